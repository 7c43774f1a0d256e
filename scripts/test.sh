#!/usr/bin/env bash
# Builds and runs the whole test suite: the default build, AddressSanitizer +
# UndefinedBehaviorSanitizer and ThreadSanitizer (CMake presets default, asan,
# tsan), the Python package (pytest), the viewer in headless Chromium (node's
# test runner), then the Windows build under Wine when scripts/test-windows.sh
# is there. Installs the tools it needs when they are missing (as root).
#
# Goes on after a failing leg so that every result is seen; exits nonzero when
# anything failed. The last line of its output is always
#   tests: N passed, M failed
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

JOBS=2
PRESETS=(default asan tsan)
passed=0
failed=0
problems=()

note() { printf '\n==== %s\n' "$*"; }

# ---- tools ---------------------------------------------------------------
ensure_tools() {
  local missing=()
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v ctest >/dev/null 2>&1 || missing+=(cmake)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  command -v make >/dev/null 2>&1 || missing+=(make)
  # The library's tests, the tool (PNG, TIFF, the viewer's server), the
  # Python package and the browser test.
  local pkg
  for pkg in libgtest-dev libpng-dev libtiff-dev libtiff-tools libcpp-httplib-dev python3-numpy python3-dask \
             python3-distributed python3-xarray python3-pytest python3-venv python3-setuptools python3-wheel \
             chromium nodejs npm; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  # npm may come with Node.js itself rather than as a package.
  if command -v npm >/dev/null 2>&1; then
    local kept=()
    for pkg in "${missing[@]}"; do [[ $pkg == npm || $pkg == nodejs ]] || kept+=("$pkg"); done
    missing=("${kept[@]}")
  fi
  [ ${#missing[@]} -eq 0 ] && return 0
  note "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing tools (${missing[*]}) and not root: install them first" >&2
    return 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# ThreadSanitizer cannot map its shadow memory under some address-space
# layouts; where the system allows it, its runs go without randomisation.
tsan_prefix=()
if setarch "$(uname -m)" -R true >/dev/null 2>&1; then
  tsan_prefix=(setarch "$(uname -m)" -R)
fi

export ASAN_OPTIONS="halt_on_error=1:print_stacktrace=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1"

log_dir="$(mktemp -d)"
trap 'rm -rf "$log_dir"' EXIT

# Adds the counts of ctest's summary line ("... N tests failed out of T").
count_ctest() {
  local log=$1 preset=$2 line f t
  line=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    problems+=("$preset: ctest gave no summary")
    return
  fi
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + t - f))
  failed=$((failed + f))
  if [ "$t" -eq 0 ]; then problems+=("$preset: no test ran"); fi
  if [ "$f" -ne 0 ]; then problems+=("$preset: $f failed"); fi
}

run_preset() {
  local preset=$1 prefix=() log="$log_dir/$1.log"
  [ "$preset" = tsan ] && prefix=("${tsan_prefix[@]}")
  note "$preset: configure"
  if ! cmake --preset "$preset"; then
    failed=$((failed + 1)); problems+=("$preset: configure failed"); return
  fi
  note "$preset: build"
  if ! "${prefix[@]}" cmake --build --preset "$preset" --parallel "$JOBS"; then
    failed=$((failed + 1)); problems+=("$preset: build failed"); return
  fi
  note "$preset: test"
  "${prefix[@]}" ctest --preset "$preset" --output-on-failure -j "$JOBS" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  count_ctest "$log" "$preset"
  if [ "$rc" -ne 0 ] && ! printf '%s\n' "${problems[@]}" | grep -q "^$preset:"; then
    failed=$((failed + 1)); problems+=("$preset: ctest exited with $rc")
  fi
}

if ensure_tools; then
  for preset in "${PRESETS[@]}"; do run_preset "$preset"; done
else
  failed=$((failed + 1)); problems+=("tools could not be installed")
fi

# ---- the Python package --------------------------------------------------
# Counts pytest's summary line ("N passed, M failed, ..." or "N passed in").
run_python() {
  local log="$log_dir/python.log" line p f
  note "python"
  bash scripts/test-python.sh 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  line=$(grep -E '^[0-9]+ (passed|failed)|^=+ .*(passed|failed)' "$log" | tail -n 1)
  p=$(grep -oE '[0-9]+ passed' <<<"$line" | grep -oE '[0-9]+' || echo 0)
  f=$(grep -oE '[0-9]+ (failed|errors?)' <<<"$line" | awk '{s += $1} END {print s + 0}')
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
  if [ "$rc" -ne 0 ]; then
    [ "${f:-0}" -eq 0 ] && failed=$((failed + 1))
    problems+=("python: scripts/test-python.sh exited with $rc")
  fi
}
if [ -f scripts/test-python.sh ]; then run_python; fi

# ---- the viewer in a real browser ------------------------------------------
# Counts node's test runner summary ("ℹ pass N", "ℹ fail N").
run_viewer() {
  local log="$log_dir/viewer.log" p f
  note "viewer (headless Chromium)"
  bash scripts/test-viewer.sh 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  p=$(grep -E '^. pass [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+$')
  f=$(grep -E '^. fail [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+$')
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
  if [ "$rc" -ne 0 ]; then
    [ "${f:-0}" -eq 0 ] && failed=$((failed + 1))
    problems+=("viewer: scripts/test-viewer.sh exited with $rc")
  fi
}
if [ -f scripts/test-viewer.sh ]; then run_viewer; fi

# ---- Windows build under Wine ---------------------------------------------
if [ -f scripts/test-windows.sh ]; then
  note "windows"
  win_log="$log_dir/windows.log"
  bash scripts/test-windows.sh 2>&1 | tee "$win_log"
  win_rc=${PIPESTATUS[0]}
  win_line=$(grep -E '^windows: [0-9]+ passed, [0-9]+ failed' "$win_log" | tail -n 1)
  if [ -n "$win_line" ]; then
    passed=$((passed + $(sed -E 's/^windows: ([0-9]+) passed.*/\1/' <<<"$win_line")))
    win_failed=$(sed -E 's/^windows: [0-9]+ passed, ([0-9]+) failed.*/\1/' <<<"$win_line")
    failed=$((failed + win_failed))
    [ "$win_failed" -ne 0 ] && problems+=("windows: $win_failed failed")
  fi
  if [ "$win_rc" -ne 0 ]; then
    [ -z "$win_line" ] && failed=$((failed + 1))
    problems+=("windows: scripts/test-windows.sh exited with $win_rc")
  fi
fi

note "summary"
if [ ${#problems[@]} -gt 0 ]; then printf '  %s\n' "${problems[@]}"; else echo "  all legs passed"; fi
status=0
[ "$failed" -ne 0 ] && status=1
[ ${#problems[@]} -ne 0 ] && status=1
echo "tests: $passed passed, $failed failed"
exit "$status"
