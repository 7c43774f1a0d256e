#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz"), writes the seed corpus the library
# makes itself, and runs every target for SECONDS (default 60) each. Inputs
# that fail are left in build/fuzz/findings/<target>/; copy each one into
# tests/fuzz_regressions/<target>/, where the ordinary tests replay it.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(buffer_reader file_reader renderings append tiny_records)

cmake --preset fuzz >/dev/null && cmake --build --preset fuzz --parallel 2 || exit 1
bin=build/fuzz/fuzz
work=build/fuzz/work
rm -rf "$work/seeds" && "$bin/fuzz_make_seeds" "$work/seeds" fuzz/tova.dict || exit 1

# A smaller quarantine (freed memory ASan holds back to catch late use) keeps
# the memory limit of a target about the target, not about ASan.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=32"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
status=0
for t in "${targets[@]}"; do
  corpus="$work/corpus/$t" findings=build/fuzz/findings/$t
  mkdir -p "$corpus" "$findings"
  options=()
  [ -f "fuzz/$t.options" ] && mapfile -t options < <(grep -v '^#' "fuzz/$t.options")
  echo "==== $t: $seconds s"
  # Earlier findings are run first: a fixed one must stay fixed.
  "$bin/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -dict=fuzz/tova.dict \
    -artifact_prefix="$findings/" "${options[@]}" "$corpus" "$work/seeds/$t" \
    $( [ -d "tests/fuzz_regressions/$t" ] && echo "tests/fuzz_regressions/$t" ) 2>&1 |
    tee "$work/$t.log" | grep -E "^#[0-9]+.*(DONE|pulse)|ERROR|SUMMARY|stat::|==[0-9]+==" 
  [ "${PIPESTATUS[0]}" -ne 0 ] && { status=1; echo "$t: FINDING, see $findings/"; }
done
exit $status
