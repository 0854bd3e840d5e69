#!/usr/bin/env python3
"""The fleet benchmark: `langmon config` reading many printers at once.

Run by `scripts/bench fleet`; prints a Markdown table (and the commands that
measured it) on standard output.

    fleet_bench.py LANGMON LANGMON_PRINTER REPETITIONS [ROUND_TRIP_FLOOR]

`langmon-printer --fleet N --port 0 --latency 5` serves the printers, every
reply held 5 ms. Against one such fleet, in the same run:

- one printer's read: `langmon config --printer URI --json`;
- the fleet read: `langmon config --printers FILE --json`;

for N = 64 and 256, REPETITIONS rounds, medians reported. Each round runs every
command once, in turn (one printer, the fleet, and the floor programs below),
so that a load that comes and goes on the machine falls on all of them alike;
the fleet's ratio to the floor is the median of the rounds' ratios. Wall time is
taken with a monotonic clock around the command; CPU time is its user and
system time including its children (getrusage(RUSAGE_CHILDREN) before and
after it is waited for; the fleet's server is a child too but is not waited
for until the end, so it does not count). Memory is measured in runs of its
own, so that sampling does not slow the timed runs: every 10 ms the PSS
(/proc/PID/smaps_rollup) and the RSS of langmon and all its descendants are
summed, and the peak sums are reported. Then a fleet of 256 of which 10 %
are silent, read whole, against one silent printer's read.

With ROUND_TRIP_FLOOR (bench/round_trip_floor.cpp), the machine's floor
too: the same 27 round trips per printer, one thread per printer in one
process and no monitor, against the same fleet, for one printer and for
all of them. Its ratio is the best the fleet read's wall ratio can be on
this machine. Beside it the same floor with the threads in forked
processes of eighteen, the shape of the fleet's worker processes: what the
process structure alone costs. Target: the fleet read at most 1.3 times the
one-process floor.
"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import threading
import time

LATENCY_MS = 5
# A fleet worker's printers: one on each port the monitor serves.
PER_PROCESS = 18


class Fleet:
    """A langmon-printer fleet for the life of a `with` block."""

    def __init__(self, printer, count, extra=()):
        self.list = tempfile.NamedTemporaryFile("r", suffix=".txt", delete=False).name
        self.argv = [printer, "--fleet", str(count), "--port", "0", "--latency",
                     str(LATENCY_MS), "--list", self.list, *extra]
        self.count = count

    def __enter__(self):
        self.process = subprocess.Popen(self.argv, stdout=subprocess.PIPE, text=True)
        lines = [self.process.stdout.readline() for _ in range(self.count)]
        if not all(line.startswith("listening on ") for line in lines):
            self.process.kill()
            sys.exit("fleet_bench: langmon-printer did not start: " + " ".join(self.argv))
        uris = [line.split()[0] for line in open(self.list) if not line.startswith("#")]
        self.uris = {"silent": [], "answers": []}
        for uri, line in zip(uris, lines):
            self.uris["silent" if line.rstrip().endswith("(silent)") else "answers"].append(uri)
        return self

    def cpu(self):
        """The server's own CPU time so far (s)."""
        with open("/proc/%d/stat" % self.process.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def __exit__(self, *_):
        self.process.terminate()
        self.process.wait()
        os.unlink(self.list)


def run(argv):
    """Runs a command to its end; its wall and CPU time, status, output lines."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, done.returncode, done.stdout


def descendants(pid):
    """The process and every process below it (through each thread's children)."""
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        found.append(p)
        try:
            for task in os.listdir("/proc/%d/task" % p):
                with open("/proc/%d/task/%s/children" % (p, task)) as f:
                    todo.extend(int(c) for c in f.read().split())
        except OSError:
            pass
    return found


def field_kib(path, name):
    try:
        with open(path) as f:
            for line in f:
                if line.startswith(name):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def peak_memory(argv):
    """Peak sums of PSS and of RSS (MiB) of the command and its descendants."""
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak_pss = peak_rss = 0
    while process.poll() is None:
        pids = descendants(process.pid)
        pss = sum(field_kib("/proc/%d/smaps_rollup" % p, "Pss:") for p in pids)
        rss = sum(field_kib("/proc/%d/status" % p, "VmRSS:") for p in pids)
        peak_pss, peak_rss = max(peak_pss, pss), max(peak_rss, rss)
        time.sleep(0.01)
    return peak_pss / 1024, peak_rss / 1024


def verdict(met, target):
    return ("met" if met else "MISSED") + " (target " + target + ")"


def median_run(argv, reps, expect_lines=None):
    """Medians of wall and CPU time over `reps` runs; checks the output."""
    walls, cpus = [], []
    for _ in range(reps):
        wall, cpu, status, out = run(argv)
        lines = len(out.splitlines())
        if expect_lines is not None and lines != expect_lines:
            sys.exit("fleet_bench: %s printed %d lines, not %d (exit status %d)" %
                     (" ".join(argv), lines, expect_lines, status))
        walls.append(wall)
        cpus.append(cpu)
    return statistics.median(walls), statistics.median(cpus)


def short(argv, fleet):
    """A command as the table shows it: the program without its folder, the
    printers file as printers.txt."""
    return " ".join([os.path.basename(argv[0])] +
                    ["printers.txt" if a == fleet.list else a for a in argv[1:]])


def floor_wall(argv):
    """The wall time the floor program reports for one run."""
    done = subprocess.run(argv, stdout=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit("fleet_bench: %s failed" % " ".join(argv))
    return float(done.stdout)


def rounds(langmon, floor, fleet, reps):
    """`reps` rounds of every command in turn; per command its wall times
    (and CPU times for langmon's), and the server's CPU time per fleet read."""
    one = [langmon, "config", "--printer", fleet.uris["answers"][0], "--json"]
    every = [langmon, "config", "--printers", fleet.list, "--json"]
    first = tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False)
    first.write("socket://%s sim-1\n" % fleet.uris["answers"][0].split("//", 1)[1])
    first.close()
    floors = {"floor one": [floor, first.name], "floor": [floor, fleet.list],
              "floor per process": [floor, "--per-process", str(PER_PROCESS), fleet.list]}
    times = {name: [] for name in ["one", "one cpu", "every", "every cpu", *floors]}
    server = 0.0
    try:
        for _ in range(reps):
            wall, cpu, _, _ = run(one)
            times["one"].append(wall)
            times["one cpu"].append(cpu)
            before = fleet.cpu()
            wall, cpu, status, out = run(every)
            server += fleet.cpu() - before
            if len(out.splitlines()) != fleet.count:
                sys.exit("fleet_bench: %s printed %d lines, not %d (exit status %d)" %
                         (" ".join(every), len(out.splitlines()), fleet.count, status))
            times["every"].append(wall)
            times["every cpu"].append(cpu)
            for name, argv in floors.items() if floor else ():
                times[name].append(floor_wall(argv))
    finally:
        os.unlink(first.name)
    return times, server / reps, one, every


def measure_size(langmon, printer, count, reps, out, notes, floor=None, floors=None):
    with Fleet(printer, count) as fleet:
        times, server, one, every = rounds(langmon, floor, fleet, reps)
        pss, rss = max(peak_memory(every) for _ in range(min(reps, 3)))
    med = {name: statistics.median(values) for name, values in times.items() if values}
    one_wall, one_cpu, all_wall, all_cpu = med["one"], med["one cpu"], med["every"], med["every cpu"]
    if floor:
        vs_floor = statistics.median(e / f for e, f in zip(times["every"], times["floor"]))
        floors.append("| %d printers | %.3f s | %.3f s | %.2f | %.3f s: %.2f | %.2f, %s |" %
                      (count, med["floor"], med["floor one"], med["floor"] / med["floor one"],
                       med["floor per process"], med["floor per process"] / med["floor one"],
                       vs_floor, verdict(vs_floor <= 1.3, "≤ 1.3")))
    per = all_cpu / count
    cpu_ratio = per / one_cpu if one_cpu else float("inf")
    memory = "%.1f MiB PSS, %.1f MiB RSS" % (pss, rss)
    if count == 256:
        memory += ", " + verdict(pss < 64, "< 64 MiB PSS")
    out("| %d printers | %.3f s | %.3f s one printer | %.2f, %s | %.1f ms per printer, %.1f ms "
        "one printer: %.2f, %s | %s |" %
        (count, all_wall, one_wall, all_wall / one_wall, verdict(all_wall <= 2 * one_wall, "≤ 2"),
         per * 1e3, one_cpu * 1e3, cpu_ratio, verdict(cpu_ratio <= 1.5, "≤ 1.5"), memory))
    notes.append("%d printers: langmon-printer's own CPU time per fleet read %.3f s, the "
                 "command's %.3f s." % (count, server, all_cpu))
    return short(fleet.argv, fleet), short(one, fleet), short(every, fleet)


def measure_silent(langmon, printer, reps, out):
    reps = min(reps, 3)  # each run waits out a silent printer
    with Fleet(printer, 256, ["--silent-share", "0.1"]) as fleet:
        one = [langmon, "config", "--printer", fleet.uris["silent"][0], "--json"]
        every = [langmon, "config", "--printers", fleet.list, "--json"]
        one_wall, _ = median_run(one, reps)
        all_wall, _ = median_run(every, reps, expect_lines=256)
        silent = len(fleet.uris["silent"])
    r = all_wall / one_wall
    out("| 256 printers, %d silent | %.3f s | %.3f s one silent printer | %.3f, %s | | |" %
        (silent, all_wall, one_wall, r, verdict(r <= 1.05, "≤ 1.05")))
    return short(fleet.argv, fleet), short(one, fleet), short(every, fleet)


def main():
    langmon, printer, reps = sys.argv[1], sys.argv[2], int(sys.argv[3])
    floor = sys.argv[4] if len(sys.argv) > 4 else None
    floors = []
    lines = []
    out = lines.append
    out("| Fleet | Fleet read, wall | Reference | Wall ratio | CPU per printer | Peak memory |")
    out("|---|---|---|---|---|---|")
    notes = []
    commands = [measure_size(langmon, printer, n, reps, out, notes, floor, floors)
                for n in (64, 256)]
    commands.append(measure_silent(langmon, printer, reps, out))
    out("")
    out("The server beside the command (its CPU time averaged over the timed runs, the "
        "command's the median; both run on the same cores): " + " ".join(notes))
    if floors:
        out("")
        out("The machine's floor: `round_trip_floor printers.txt`, the same 27 round trips "
            "per printer against the same fleet, one thread per printer in one process, "
            "without the monitor; and `round_trip_floor --per-process %d printers.txt`, the "
            "same threads in forked processes of %d, as the fleet's workers hold them "
            "(medians of %d rounds, each running every command in turn; the fleet read's ratio "
            "to the floor is the median of the rounds' ratios):" %
            (PER_PROCESS, PER_PROCESS, reps))
        out("")
        out("| Fleet | Floor, all printers | Floor, one printer | Floor's wall ratio | "
            "In processes of %d, and its ratio | Fleet read vs floor |" % PER_PROCESS)
        out("|---|---|---|---|---|---|")
        lines.extend(floors)
    out("")
    out("Commands (medians of %d rounds; %s runs each for the silent fleet):" %
        (reps, min(reps, 3)))
    out("")
    for server, one, every in commands:
        out("- `%s`, then `%s` and `%s`" % (server, one, every))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
