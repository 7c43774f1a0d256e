#!/usr/bin/env bash
# The Windows leg: cross-builds HOLMDAQTova.dll and the test programs with
# MinGW-w64 (preset "windows", build/windows) and runs them under Wine inside
# a virtual X display: the GoogleTest suite tova_tests.exe, the plain C client
# linked against the import library, the client that binds every export by
# ordinal, and the check of the DLL's export and import tables.
#
# Installs mingw-w64, wine and xvfb with apt-get when they are missing (as
# root). When they cannot be had it prints "WINDOWS LEG SKIPPED" and exits 0;
# any build or test failure exits nonzero. After the tests it prints
#   windows: N passed, M failed
# (GoogleTest cases and the other CTest tests together).
#
# Environment: TOVA_WINEPREFIX (default build/windows/wineprefix),
# TOVA_JOBS (default: the number of processors).
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/windows"
log_dir="$build/test-logs"

skip() {
  echo "=================================================================="
  echo "WINDOWS LEG SKIPPED: $*"
  echo "=================================================================="
  exit 0
}

have_tools() {
  command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v x86_64-w64-mingw32-windres >/dev/null &&
    command -v wine >/dev/null && command -v xvfb-run >/dev/null && command -v cmake >/dev/null
}

# ---- the inner run: inside xvfb-run, with the build in place --------------
if [[ "${1:-}" == "--run-tests" ]]; then
  export WINEPREFIX="${TOVA_WINEPREFIX:-$build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "-- creating the Wine prefix $WINEPREFIX"
    wineboot -i >"$log_dir/wineboot.log" 2>&1
    wineserver -w
  fi
  status=0

  echo "-- tova_tests.exe under Wine"
  # Wine writes CR LF line ends; the log keeps plain LF.
  timeout 1800 wine "$build/tests/tova_tests.exe" --gtest_color=no 2>&1 | tr -d '\r' >"$log_dir/tova_tests.log"
  rc=${PIPESTATUS[0]}
  # The summary lines and each failure, nothing else.
  grep -E -A6 ': Failure$' "$log_dir/tova_tests.log" | head -n 80
  grep -E '^\[==========\] .* ran\.|^\[  PASSED  \]|^\[  (SKIPPED |FAILED  )\] ' "$log_dir/tova_tests.log" |
    grep -v -E ' \([0-9]+ ms\)$'
  if [[ $rc -ne 0 ]]; then
    grep -q '^\[==========\] .* ran\.' "$log_dir/tova_tests.log" ||
      { echo "tova_tests.exe ended without finishing (exit $rc); last lines:"; tail -n 20 "$log_dir/tova_tests.log"; }
    status=1
  fi

  echo "-- C client, ordinal client and DLL tables (ctest)"
  (cd "$build" && timeout 900 ctest -E '^tova_tests$' --output-on-failure) 2>&1 | tr -d '\r' >"$log_dir/ctest.log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|tests failed|check failed|  is |not a Windows system|disagrees|  TOVADLL_' \
    "$log_dir/ctest.log"

  # One closing count for both parts: GoogleTest cases and CTest tests.
  g_pass=$(sed -n -E 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log_dir/tova_tests.log" | tail -n 1)
  g_fail=$(sed -n -E 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' "$log_dir/tova_tests.log" | tail -n 1)
  c_line=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log_dir/ctest.log" | tail -n 1)
  c_fail=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$c_line")
  c_all=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$c_line")
  g_pass=${g_pass:-0} g_fail=${g_fail:-0} c_fail=${c_fail:-0} c_all=${c_all:-0}
  # A test program that ended without its summary counts as one failure.
  grep -q '^\[==========\] .* ran\.' "$log_dir/tova_tests.log" || g_fail=$((g_fail + 1))
  [[ -n "$c_line" ]] || c_fail=$((c_fail + 1))
  echo "windows: $((g_pass + c_all - c_fail)) passed, $((g_fail + c_fail)) failed"

  wineserver -w
  exit $status
fi

# ---- tools -----------------------------------------------------------------
if ! have_tools; then
  if [[ $(id -u) -ne 0 ]] || ! command -v apt-get >/dev/null; then
    skip "mingw-w64, wine or xvfb missing and cannot be installed (not root, or no apt-get)"
  fi
  echo "-- installing mingw-w64, wine and xvfb"
  export DEBIAN_FRONTEND=noninteractive
  if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends \
           cmake make g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb xauth; } >/tmp/tova-apt.log 2>&1; then
    tail -n 20 /tmp/tova-apt.log
    skip "apt-get could not install mingw-w64, wine and xvfb (log: /tmp/tova-apt.log)"
  fi
  have_tools || skip "the tools are still missing after apt-get install"
fi

# ---- cross-build -----------------------------------------------------------
jobs="${TOVA_JOBS:-$(nproc 2>/dev/null || echo 2)}"
mkdir -p "$build"
echo "-- configuring and building the Windows preset in $build"
if ! { (cd "$root" && cmake --preset windows) && cmake --build "$build" -j "$jobs"; } >"$build/build.log" 2>&1; then
  mkdir -p "$log_dir"
  grep -E 'error|Error|cannot export|undefined reference' "$build/build.log" | head -n 40
  echo "WINDOWS BUILD FAILED (log: $build/build.log)"
  exit 1
fi
mkdir -p "$log_dir"
echo "-- built: $(cd "$build" && ls HOLMDAQTova.dll libHOLMDAQTova.dll.a tova_ext.dll 2>/dev/null | tr '\n' ' ')"

# ---- tests under Wine in a virtual display ---------------------------------
xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --run-tests
status=$?
if [[ $status -eq 0 ]]; then
  echo "WINDOWS LEG PASSED"
else
  echo "WINDOWS LEG FAILED (logs: $log_dir)"
fi
exit $status
