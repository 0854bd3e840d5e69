#!/usr/bin/env bash
# langmon-setup against Wine's print spooler, one case per run:
#
#   spooler_test.sh CASE wine|windows
#
# "wine" runs the kit's langmon-setup.exe, which meets Wine as it is: its
# EnumMonitorsW lists language monitors, and its Spooler service loads no
# monitor. "windows" runs setup_as_on_windows.exe, the same commands with
# EnumMonitorsW listing port monitors only, as Windows does, and a Print
# Spooler service played by setup_test_helper.exe, which loads the
# monitor's DLL and holds it loaded as the spooler does (LANGMON_TEST_SPOOLER
# names its folder; see simulated_spooler.h).
#
# Cases, each with the exit statuses and messages it expects:
#   lifecycle          status, install, status, install again, remove, remove
#                      again, install again, remove --purge
#   broken             the DLL deleted or replaced behind the tool's back:
#                      status says broken, upgrade refuses, install repairs
#                      (--force where a file is in the way), remove --purge
#                      leaves neither registration nor DLL
#   purge              remove --purge keeps a DLL another monitor names
#   file_in_the_way    a different file of the DLL's name stays unless
#                      --force replaces it, and comes back when the spooler
#                      refuses the DLL that replaced it
#   refuses_no_table   DLLs without InitializePrintMonitor, or whose
#                      InitializePrintMonitor gives no table, are refused with
#                      the spooler's error, and their copies taken back out
#   usage              --version and wrong command lines, through the program
#   from_the_kit       the ZIP kit unpacked, its langmon-setup installing the
#                      DLL beside it
#   upgrade            the running spooler's DLL replaced by the next version,
#                      then by itself (nothing to do), then downgraded
#   upgrade_rollback   a new DLL the spooler does not load: the old one back
#   upgrade_at_restart a spooler that cannot be stopped: the replacement is
#                      scheduled for the restart
#   purge_in_use       remove --purge while the spooler holds the DLL: its
#                      deletion is scheduled for the restart
#
# Wine runs the spooler inside the calling process (winspool.drv loads
# localspl.dll), so AddMonitorW loads the DLL into langmon-setup itself; the
# prefix needs no service started. Every case uses monitor names and DLL file
# names of its own and clears them away first, so cases may run in any order
# or at the same time in one prefix (the two that schedule renames take a
# ctest resource lock: they edit one registry value).
#
# Environment (set by the ctest registration, tests/setup/CMakeLists.txt):
#   WINE_RUN WINE_ARCH WINE_PREFIX  scripts/wine-run, architecture, prefix
#   SETUP_EXE AS_ON_WINDOWS_EXE     langmon-setup.exe, setup_as_on_windows.exe
#   HELPER_EXE                      setup_test_helper.exe
#   LANGMON_DLL NEXT_DLL            the built langmon.dll, and its next version
#   NO_EXPORT_DLL NULL_TABLE_DLL    the two DLLs that are no monitors
#   VERSION NEXT_VERSION            the project version, the next one
#   KIT_ZIP                         the kit (from_the_kit)
#   SCRATCH                         a folder of the case's own
# Exit status: 0 passed, 1 failed, 77 skipped (wine-run cannot run the
# architecture here).
set -uo pipefail

case_name=${1:?case}
as=${2:?wine or windows}
: "${WINE_RUN:?}" "${WINE_ARCH:?}" "${WINE_PREFIX:?}" "${SETUP_EXE:?}" "${SCRATCH:?}"
system32=$WINE_PREFIX/drive_c/windows/system32
case $as in
  wine) tool=$SETUP_EXE listing="listed by EnumMonitorsW" ;;
  windows) tool=$AS_ON_WINDOWS_EXE listing="not listed by EnumMonitorsW, as Windows does" ;;
  *) echo "spooler_test.sh: wine or windows, not '$as'" >&2; exit 2 ;;
esac

rm -rf "$SCRATCH"
mkdir -p "$SCRATCH"

fail() {
  echo "FAIL [$case_name as $as] $*" >&2
  echo "--- stdout of the last run:" >&2
  printf '%s\n' "$out" >&2
  echo "--- stderr of the last run:" >&2
  printf '%s\n' "$err" >&2
  exit 1
}

out=""
err=""
status=0
# run PROGRAM ARGS...: runs a Windows program; leaves $out, $err (carriage
# returns dropped) and $status.
run() {
  local exe=$1
  shift
  status=0
  "$WINE_RUN" --arch "$WINE_ARCH" --prefix "$WINE_PREFIX" "$exe" "$@" \
    > "$SCRATCH/stdout" 2> "$SCRATCH/stderr" || status=$?
  out=$(tr -d '\r' < "$SCRATCH/stdout")
  err=$(tr -d '\r' < "$SCRATCH/stderr")
  if ((status == 77)) && grep -q '^wine-run: skipped' <<< "$err"; then
    echo "$err" >&2
    exit 77
  fi
  echo "$(basename "$exe") $* -> $status"
}

# setup [--exe PROGRAM] ARGS...: runs the case's langmon-setup (or PROGRAM).
setup() {
  local exe=$tool
  if [[ $1 == --exe ]]; then
    exe=$2
    shift 2
  fi
  run "$exe" "$@"
}

helper() { run "$HELPER_EXE" "$@"; }

# expect STATUS [out|err REGEX]...: the last run's exit status and what its
# standard output or error must match (extended regular expressions).
expect() {
  local want=$1
  shift
  ((status == want)) || fail "expected exit status $want, got $status"
  while (($#)); do
    local stream=$1 pattern=$2 text
    shift 2
    [[ $stream == out ]] && text=$out || text=$err
    grep -Eq -- "$pattern" <<< "$text" || fail "std$stream does not match: $pattern"
  done
}

# Windows path of a file of ours.
win() { echo "Z:$1"; }

# The simulated spooler of this case: its folder, and the monitor it loads.
# It is stopped when the case ends, however it ends.
use_spooler() {
  mkdir -p "$SCRATCH/spooler"
  printf '%s\n' "$1" > "$SCRATCH/spooler/monitor"
  export LANGMON_TEST_SPOOLER
  LANGMON_TEST_SPOOLER=$(win "$SCRATCH/spooler")
  trap 'rm -f "$SCRATCH/spooler/cannot-stop"; helper stop > /dev/null' EXIT
}

# A monitor of this case's name and its DLL copy are gone before it starts.
clear_monitor() {
  local name=$1 dll=$2
  setup remove --name "$name"
  ((status == 0 || status == 4)) || fail "could not clear monitor $name"
  rm -f "$system32/$dll" "$system32/$dll.old" "$system32/$dll.new"
}

same_file() { cmp -s "$1" "$2" || fail "$1 and $2 differ"; }
absent() { [[ ! -e $1 ]] || fail "$1 is still there"; }
no_leftovers() { absent "$system32/$1.old"; absent "$system32/$1.new"; }

version_pattern=${VERSION//./\\.}
next_pattern=${NEXT_VERSION//./\\.}

case_lifecycle() {
  local name=lm-test-lifecycle-$as dll=lmlife-$as.dll
  cp "$LANGMON_DLL" "$SCRATCH/$dll"
  clear_monitor "$name" "$dll"

  setup status --name "$name"
  expect 4 out "monitor \"$name\": not installed"

  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 0 out "copied .*$dll to C:.windows.system32.$dll" \
    out "installed monitor \"$name\" for Windows [^:]+: the spooler loaded C:.windows.system32.$dll \\(version $version_pattern\\.0\\)"
  same_file "$SCRATCH/$dll" "$system32/$dll"

  setup status --name "$name"
  expect 0 out "monitor \"$name\": installed" \
    out "registration: HKLM.SYSTEM.CurrentControlSet.Control.Print.Monitors.$name, Driver \"$dll\"" \
    out "DLL: +$dll \\(C:.windows.system32.$dll\\)" \
    out "file version: $version_pattern\\.0 \\(langmon $version_pattern\\)" \
    out "spooler list: $listing"

  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 3 out "monitor \"$name\" is already installed \\($dll\\); nothing changed"

  setup remove --name "$name"
  expect 0 out "removed monitor \"$name\"" \
    out "C:.windows.system32.$dll stays: remove --purge deletes it"
  same_file "$SCRATCH/$dll" "$system32/$dll"

  setup status --name "$name"
  expect 4 out "not installed"
  setup remove --name "$name"
  expect 4 out "monitor \"$name\" is not installed"

  # The DLL left in the system folder is the same file: installed again
  # without a copy.
  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 0 out "C:.windows.system32.$dll is already in place \\(the same file\\)" \
    out "installed monitor \"$name\""
  setup remove --name "$name" --purge
  expect 0 out "removed monitor \"$name\"" out "deleted C:.windows.system32.$dll"
  absent "$system32/$dll"
  setup status --name "$name"
  expect 4
}

case_broken() {
  local name=lm-test-broken-$as dll=lmbroken-$as.dll
  cp "$LANGMON_DLL" "$SCRATCH/$dll"
  clear_monitor "$name" "$dll"
  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 0

  # The DLL deleted behind the tool's back.
  rm "$system32/$dll"
  setup status --name "$name"
  expect 6 out "monitor \"$name\": registered, but broken: C:.windows.system32.$dll is missing" \
    out "repair: +langmon-setup install puts the DLL back"
  setup upgrade --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 6 err "is broken: .*missing; langmon-setup install repairs it"
  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 0 out "registered, but broken: .*missing; putting its DLL back" \
    out "copied .*$dll to C:.windows.system32.$dll" \
    out "repaired monitor \"$name\": its registration names C:.windows.system32.$dll \\(version $version_pattern\\.0\\) again"
  same_file "$SCRATCH/$dll" "$system32/$dll"
  setup status --name "$name"
  expect 0 out "monitor \"$name\": installed"

  # A file that is no DLL in its place: in the way until --force.
  printf 'not a DLL\r\n' > "$system32/$dll"
  setup status --name "$name"
  expect 6 out "registered, but broken: C:.windows.system32.$dll is not a Windows DLL"
  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 5 err "a different C:.windows.system32.$dll is in the way; --force replaces it"
  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")" --force
  expect 0 out "replaced C:.windows.system32.$dll with .*--force" out "repaired monitor \"$name\""
  same_file "$SCRATCH/$dll" "$system32/$dll"
  no_leftovers "$dll"

  # Broken again, and purged: neither registration nor DLL stays.
  rm "$system32/$dll"
  setup remove --name "$name" --purge
  expect 0 out "removed monitor \"$name\"" out "C:.windows.system32.$dll is not there: nothing to delete"
  setup status --name "$name"
  expect 4
  absent "$system32/$dll"
}

case_purge() {
  local first=lm-test-purge-a-$as second=lm-test-purge-b-$as dll=lmpurge-$as.dll
  cp "$LANGMON_DLL" "$SCRATCH/$dll"
  clear_monitor "$first" "$dll"
  clear_monitor "$second" "$dll"
  setup install --name "$first" --dll "$(win "$SCRATCH/$dll")"
  expect 0
  setup install --name "$second" --dll "$(win "$SCRATCH/$dll")"
  expect 0 out "already in place"

  setup remove --name "$first" --purge
  expect 0 out "removed monitor \"$first\"" \
    out "C:.windows.system32.$dll stays: monitor \"$second\" names it too"
  same_file "$SCRATCH/$dll" "$system32/$dll"
  setup remove --name "$second" --purge
  expect 0 out "deleted C:.windows.system32.$dll"
  absent "$system32/$dll"
}

case_file_in_the_way() {
  local name=lm-test-in-the-way-$as dll=lminway-$as.dll
  cp "$LANGMON_DLL" "$SCRATCH/$dll"
  mkdir -p "$SCRATCH/refused"
  cp "$NULL_TABLE_DLL" "$SCRATCH/refused/$dll"
  clear_monitor "$name" "$dll"
  cp "$NULL_TABLE_DLL" "$system32/$dll"

  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 5 err "a different C:.windows.system32.$dll is in the way; --force replaces it"
  same_file "$NULL_TABLE_DLL" "$system32/$dll"
  setup status --name "$name"
  expect 4

  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")" --force
  expect 0 out "replaced C:.windows.system32.$dll with .*$dll \\(--force\\)" \
    out "installed monitor \"$name\""
  same_file "$SCRATCH/$dll" "$system32/$dll"
  no_leftovers "$dll"
  setup remove --name "$name"
  expect 0

  # --force with a DLL the spooler refuses: the file it replaced comes back.
  setup install --name "$name" --dll "$(win "$SCRATCH/refused/$dll")" --force
  expect 1 err "AddMonitorW failed: error [1-9][0-9]*: ." \
    out "put the earlier C:.windows.system32.$dll back"
  same_file "$SCRATCH/$dll" "$system32/$dll"
  no_leftovers "$dll"
  setup status --name "$name"
  expect 4
  rm -f "$system32/$dll"
}

case_refuses_no_table() {
  local source dll name=lm-test-no-table
  for source in "$NO_EXPORT_DLL" "$NULL_TABLE_DLL"; do
    dll=$(basename "$source")
    cp "$source" "$SCRATCH/$dll"
    clear_monitor "$name" "$dll"
    setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
    # The spooler's own error, with its code and text, then the copy is
    # taken back out.
    expect 1 err "langmon-setup: error: AddMonitorW failed: error [1-9][0-9]*: ." \
      out "removed C:.windows.system32.$dll again"
    absent "$system32/$dll"
    setup status --name "$name"
    expect 4
  done
}

case_usage() {
  setup --version
  expect 0 out "^langmon-setup $version_pattern \\((x86_64|i686)\\)$"
  setup frob
  expect 2 err "langmon-setup: error: unknown command \"frob\"" err "Exit status: 0 done"
  setup remove --force
  expect 2 err "remove does not take --force"
  setup upgrade --force
  expect 2 err "upgrade does not take --force"
  setup install --name "a,b"
  expect 2 err "\"a,b\" cannot name a monitor: it must not hold ','"
  setup install --dll "$(win "$SCRATCH/nothing.dll")" --name lm-test-usage
  expect 1 err "CreateFileW .*nothing.dll failed: error 2: "
  printf 'not a DLL\r\n' > "$SCRATCH/text.dll"
  setup install --dll "$(win "$SCRATCH/text.dll")" --name lm-test-usage
  expect 1 err "text.dll is not a Windows DLL"
  setup upgrade --dll "$(win "$SCRATCH/text.dll")" --name lm-test-usage
  expect 1 err "text.dll is not a Windows DLL"
}

case_from_the_kit() {
  : "${KIT_ZIP:?}"
  local name=lm-test-kit kit
  (cd "$SCRATCH" && cmake -E tar xf "$KIT_ZIP") || fail "cannot unpack $KIT_ZIP"
  kit=$(find "$SCRATCH" -name langmon-setup.exe -printf '%h\n')
  [[ -n $kit ]] || fail "no langmon-setup.exe in $KIT_ZIP"
  clear_monitor "$name" langmon.dll
  setup --exe "$kit/langmon-setup.exe" install --name "$name"
  expect 0 out "copied .*langmon.dll to C:.windows.system32.langmon.dll" \
    out "installed monitor \"$name\""
  same_file "$kit/langmon.dll" "$system32/langmon.dll"
  setup --exe "$kit/langmon-setup.exe" status --name "$name"
  expect 0 out "file version: $version_pattern\\.0"
  setup --exe "$kit/langmon-setup.exe" remove --name "$name" --purge
  expect 0 out "deleted C:.windows.system32.langmon.dll"
}

# install_running NAME DLL: the monitor installed from $SCRATCH/DLL, and the
# simulated spooler running with it loaded.
install_running() {
  local name=$1 dll=$2
  cp "$LANGMON_DLL" "$SCRATCH/$dll"
  use_spooler "$name"
  helper stop
  clear_monitor "$name" "$dll"
  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 0
  helper start
  expect 0
  setup status --name "$name"
  expect 0 out "loaded: +yes, by the Print Spooler service \\(process [0-9]+\\)"
}

case_upgrade() {
  local name=lm-test-upgrade dll=lmupgrade.dll
  install_running "$name" "$dll"
  cp "$NEXT_DLL" "$SCRATCH/next.dll"

  setup upgrade --name "$name" --dll "$(win "$SCRATCH/next.dll")"
  expect 0 out "upgrading monitor \"$name\": C:.windows.system32.$dll $version_pattern\\.0 -> $next_pattern\\.0 \\(a newer version\\)" \
    out "stopping the Print Spooler service: printing pauses until it runs again" \
    out "starting the Print Spooler service" \
    out "upgraded monitor \"$name\": C:.windows.system32.$dll \\(version $next_pattern\\.0\\)" \
    out "file version: $next_pattern\\.0" out "loaded: +yes, by the Print Spooler service"
  same_file "$SCRATCH/next.dll" "$system32/$dll"
  no_leftovers "$dll"

  setup upgrade --name "$name" --dll "$(win "$SCRATCH/next.dll")"
  expect 0 out "already has this DLL .*; nothing changed"

  setup upgrade --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 0 out "-> $version_pattern\\.0 \\(an older version\\)" out "loaded: +yes"
  same_file "$SCRATCH/$dll" "$system32/$dll"
  no_leftovers "$dll"

  setup upgrade --name lm-test-upgrade-none --dll "$(win "$SCRATCH/$dll")"
  expect 4 out "not installed: langmon-setup install installs it"
  helper stop
  setup remove --name "$name" --purge
  expect 0 out "deleted"
}

case_upgrade_rollback() {
  local name=lm-test-rollback dll=lmrollback.dll
  install_running "$name" "$dll"
  cp "$NULL_TABLE_DLL" "$SCRATCH/refused.dll"

  # The spooler starts, but drops a DLL whose InitializePrintMonitor gives
  # no table: the old DLL comes back, and the spooler runs it again.
  setup upgrade --name "$name" --dll "$(win "$SCRATCH/refused.dll")"
  expect 1 err "the new DLL did not take: loaded: no: the Print Spooler service runs" \
    out "rolling back: putting the earlier DLL back" \
    out "put back C:.windows.system32.$dll \\(version $version_pattern\\.0\\); the Print Spooler service runs again"
  same_file "$SCRATCH/$dll" "$system32/$dll"
  no_leftovers "$dll"
  setup status --name "$name"
  expect 0 out "loaded: +yes"
  helper stop
  setup remove --name "$name" --purge
  expect 0
}

# The renames this case scheduled, forgotten again.
forget_pending() {
  helper forget-pending "$1"
  helper pending
  ! grep -qi "$1" <<< "$out" || fail "the renames of $1 are still scheduled"
}

case_upgrade_at_restart() {
  local name=lm-test-at-restart dll=lmatrestart.dll
  install_running "$name" "$dll"
  cp "$NEXT_DLL" "$SCRATCH/next.dll"
  touch "$SCRATCH/spooler/cannot-stop"

  setup upgrade --name "$name" --dll "$(win "$SCRATCH/next.dll")"
  expect 7 out "cannot be stopped now: ControlService Spooler \\(stop\\) failed: error 1061" \
    out "scheduled C:.windows.system32.$dll.new to replace C:.windows.system32.$dll when Windows restarts"
  same_file "$SCRATCH/$dll" "$system32/$dll"
  same_file "$SCRATCH/next.dll" "$system32/$dll.new"
  helper pending
  expect 0 out "$dll\\.new -> .*system32.$dll$"
  forget_pending "$dll"

  rm "$SCRATCH/spooler/cannot-stop"
  helper stop
  setup remove --name "$name" --purge
  expect 0
  rm -f "$system32/$dll.new"
}

case_purge_in_use() {
  local name=lm-test-purge-in-use dll=lmpurgeuse.dll
  install_running "$name" "$dll"

  setup remove --name "$name" --purge
  expect 7 out "removed monitor \"$name\"" \
    out "C:.windows.system32.$dll is in use, most likely still loaded by the spooler: it is deleted when Windows restarts"
  helper pending
  expect 0 out "$dll -> $"
  forget_pending "$dll"
  setup status --name "$name"
  expect 4
  helper stop
  rm -f "$system32/$dll"
}

if ! declare -F "case_$case_name" > /dev/null; then
  echo "spooler_test.sh: unknown case '$case_name'" >&2
  exit 2
fi
"case_$case_name"
echo "PASS [$case_name as $as]"
