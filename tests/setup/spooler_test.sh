#!/usr/bin/env bash
# langmon-setup against Wine's print spooler, one case per run:
#
#   spooler_test.sh CASE
#
# Cases:
#   lifecycle        status, install, status, install again, remove, remove
#                    again, install again, remove: the spooler loads the DLL
#                    and the tool reports each outcome with its exit status
#   refuses_no_table DLLs without InitializePrintMonitor, or whose
#                    InitializePrintMonitor gives no table, are refused with
#                    the spooler's error, and their copies taken back out
#   file_in_the_way  a different file of the DLL's name in the system folder
#                    stays unless --force replaces it
#   usage            --version and wrong command lines, through the program
#   from_the_kit     the ZIP kit unpacked, its langmon-setup installing the
#                    DLL beside it
#
# Wine runs the spooler inside the calling process (winspool.drv loads
# localspl.dll), so AddMonitorW loads the DLL into langmon-setup itself; the
# prefix needs no service started. Every case uses monitor names and DLL file
# names of its own and clears them away first, so cases may run in any order
# or at the same time in one prefix.
#
# Environment (set by the ctest registration, tests/setup/CMakeLists.txt):
#   WINE_RUN WINE_ARCH WINE_PREFIX  scripts/wine-run, architecture, prefix
#   SETUP_EXE LANGMON_DLL           the built langmon-setup.exe and langmon.dll
#   NO_EXPORT_DLL NULL_TABLE_DLL    the two DLLs that are no monitors
#   VERSION                         the project version
#   KIT_ZIP                         the kit (from_the_kit)
#   SCRATCH                         a folder of the case's own
# Exit status: 0 passed, 1 failed, 77 skipped (wine-run cannot run the
# architecture here).
set -uo pipefail

case_name=${1:?case}
: "${WINE_RUN:?}" "${WINE_ARCH:?}" "${WINE_PREFIX:?}" "${SETUP_EXE:?}" "${SCRATCH:?}"
system32=$WINE_PREFIX/drive_c/windows/system32

rm -rf "$SCRATCH"
mkdir -p "$SCRATCH"

fail() {
  echo "FAIL [$case_name] $*" >&2
  echo "--- stdout of the last run:" >&2
  printf '%s\n' "$out" >&2
  echo "--- stderr of the last run:" >&2
  printf '%s\n' "$err" >&2
  exit 1
}

out=""
err=""
status=0
# setup [--exe PROGRAM] ARGS...: runs langmon-setup; leaves $out, $err
# (carriage returns dropped) and $status.
setup() {
  local exe=$SETUP_EXE
  if [[ $1 == --exe ]]; then
    exe=$2
    shift 2
  fi
  status=0
  "$WINE_RUN" --arch "$WINE_ARCH" --prefix "$WINE_PREFIX" "$exe" "$@" \
    > "$SCRATCH/stdout" 2> "$SCRATCH/stderr" || status=$?
  out=$(tr -d '\r' < "$SCRATCH/stdout")
  err=$(tr -d '\r' < "$SCRATCH/stderr")
  if ((status == 77)) && grep -q '^wine-run: skipped' <<< "$err"; then
    echo "$err" >&2
    exit 77
  fi
  echo "langmon-setup $* -> $status"
}

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

# A monitor of this case's name and its DLL copy are gone before it starts.
clear_monitor() {
  local name=$1 dll=$2
  setup remove --name "$name"
  ((status == 0 || status == 4)) || fail "could not clear monitor $name"
  rm -f "$system32/$dll"
}

same_file() { cmp -s "$1" "$2" || fail "$1 and $2 differ"; }

version_pattern=${VERSION//./\\.}

case_lifecycle() {
  local name=lm-test-lifecycle dll=lmlifecycle.dll
  cp "$LANGMON_DLL" "$SCRATCH/$dll"
  clear_monitor "$name" "$dll"

  setup status --name "$name"
  expect 4 out "monitor \"$name\": not installed"

  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 0 out "copied .*$dll to C:.windows.system32.$dll" \
    out "installed monitor \"$name\" for Windows [^:]+: the spooler loaded C:.windows.system32.$dll \\(version $version_pattern\\.0\\)"
  same_file "$SCRATCH/$dll" "$system32/$dll"

  setup status --name "$name"
  expect 0 out "monitor \"$name\": installed" out "DLL: +$dll \\(C:.windows.system32.$dll\\)" \
    out "file version: $version_pattern\\.0 \\(langmon $version_pattern\\)"

  # A DLL gone from the system folder: the monitor is still listed, and the
  # version says why it is unknown.
  mv "$system32/$dll" "$SCRATCH/$dll.away"
  setup status --name "$name"
  expect 0 out "monitor \"$name\": installed" \
    out "file version: unknown: GetFileVersionInfoSizeW C:.windows.system32.$dll failed: error 2: ."
  mv "$SCRATCH/$dll.away" "$system32/$dll"

  setup install --name "$name" --dll "$(win "$SCRATCH/$dll")"
  expect 3 out "monitor \"$name\" is already installed \\($dll\\); nothing changed"

  setup remove --name "$name"
  expect 0 out "removed monitor \"$name\"; C:.windows.system32.$dll stays"
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
  setup remove --name "$name"
  expect 0
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
    [[ ! -e $system32/$dll ]] || fail "$dll was left in the system folder"
    setup status --name "$name"
    expect 4
  done
}

case_file_in_the_way() {
  local name=lm-test-in-the-way dll=lminway.dll
  cp "$LANGMON_DLL" "$SCRATCH/$dll"
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
  setup remove --name "$name"
  expect 0
  rm -f "$system32/$dll"
}

case_usage() {
  setup --version
  expect 0 out "^langmon-setup $version_pattern \\((x86_64|i686)\\)$"
  setup frob
  expect 2 err "langmon-setup: error: unknown command \"frob\"" err "Exit status: 0 done"
  setup remove --force
  expect 2 err "remove does not take --force"
  setup install --dll "$(win "$SCRATCH/nothing.dll")" --name lm-test-usage
  expect 1 err "CreateFileW .*nothing.dll failed: error 2: "
  printf 'not a DLL\r\n' > "$SCRATCH/text.dll"
  setup install --dll "$(win "$SCRATCH/text.dll")" --name lm-test-usage
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
  setup --exe "$kit/langmon-setup.exe" remove --name "$name"
  expect 0
  rm -f "$system32/langmon.dll"
}

if ! declare -F "case_$case_name" > /dev/null; then
  echo "spooler_test.sh: unknown case '$case_name'" >&2
  exit 2
fi
"case_$case_name"
echo "PASS [$case_name]"
