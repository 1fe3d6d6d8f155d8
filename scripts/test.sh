#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs
#  1. the packet fuzzer for a bounded time,
#  2. the threading tests (and the window tests that stream rows through the
#     real hand-off) under ThreadSanitizer,
#  3. every test under AddressSanitizer + UndefinedBehaviorSanitizer,
# and ends with a summary of all three: the fuzzer's run count and findings,
# each CTest result and the tests it did not run. Every stage runs even if one
# before it failed; the exit status is non-zero if any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/deps.sh --test

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Qt's libraries are not built for ThreadSanitizer: what they do among
# their own threads (a pool that scales icons, say) synchronises through
# futexes it cannot see. It watches our code, which it instruments.
export TSAN_OPTIONS=suppressions=$top/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1
jobs=$(nproc)
fuzz_seconds=${QV_FUZZ_SECONDS:-60}
logs=build/test-logs
mkdir -p "$logs"
started=$logs/started
touch "$started"

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE="address;undefined" >/dev/null
cmake --build build/asan -j "$jobs"

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=thread >/dev/null
cmake --build build/tsan -j "$jobs"

summary=()   # lines shown again at the end
failed=0
passed_total=0 failed_total=0 skipped_total=0

# ctest_summary LABEL LOG STATUS: CTest's own result line, the tests it did not
# run, and the counts for the total.
ctest_summary() {
  local label=$1 log=$2 status=$3 line total bad skipped
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [[ -z $line ]]; then
    summary+=("$label: no CTest result (exit $status; log $log)")
    failed=1 failed_total=$((failed_total + 1))
    return
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  skipped=$(grep -cE '^\s*[0-9]+ - .* \(Skipped\)$' "$log" || true)
  summary+=("$label: $line")
  while IFS= read -r t; do summary+=("    $t"); done \
    < <(sed -n '/^The following tests \(did not run\|FAILED\):/,/^$/p' "$log" |
         grep -E '^\s+[0-9]+ - ' | sed -E 's/^\s+//')
  passed_total=$((passed_total + total - bad - skipped))
  failed_total=$((failed_total + bad))
  skipped_total=$((skipped_total + skipped))
  ((status == 0 && bad == 0)) || failed=1
}

# ------------------------------------------------------------------ fuzzer
if [[ -f fuzz/CMakeLists.txt ]]; then
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DQV_BUILD_TESTS=OFF -DQV_BUILD_FUZZ=ON -DQV_SANITIZE="address;undefined" >/dev/null
  cmake --build build/fuzz -j "$jobs"
  for f in build/fuzz/fuzz/fuzz_*; do
    [[ -f $f && -x $f ]] || continue
    name=$(basename "$f")
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus" build/fuzz/findings
    log=$logs/$name.log
    echo "== $name for ${fuzz_seconds}s (log: $log)"
    set +e
    "$f" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
      -artifact_prefix="build/fuzz/findings/$name-" "$corpus" fuzz/seeds >"$log" 2>&1
    status=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    added=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -n 1)
    inputs=$(find "$corpus" -type f | wc -l)
    if ((status == 0)); then
      line="$name: ${runs:-?} runs in ${fuzz_seconds} s (${speed:-?}/s), no findings; ${added:-0} new inputs kept, $inputs in its corpus"
    else
      failed=1 failed_total=$((failed_total + 1))
      what=$(grep -m1 -E '^SUMMARY: |ERROR: (libFuzzer|AddressSanitizer|UndefinedBehaviorSanitizer)' "$log" || true)
      saved=$(grep -m1 -o 'Test unit written to .*' "$log" || true)
      line="$name: FINDING after ${runs:-?} runs: ${what:-exit $status} ${saved:+($saved)}"
    fi
    echo "$line"
    summary+=("$line")
  done
fi

# ------------------------------------------------------------ ThreadSanitizer
# ThreadSanitizer's runtime cannot map its shadow with the kernel's
# high-entropy ASLR, so its tests run with randomisation off.
echo "== threading tests under ThreadSanitizer"
tsan_wrap=()
if setarch "$(uname -m)" -R true 2>/dev/null; then tsan_wrap=(setarch "$(uname -m)" -R); fi
set +e
"${tsan_wrap[@]}" ctest --test-dir build/tsan -L threads --output-on-failure -j1 2>&1 | tee "$logs/tsan.log"
status=${PIPESTATUS[0]}
set -e
ctest_summary "ThreadSanitizer, threading tests" "$logs/tsan.log" "$status"

# ------------------------------------------ AddressSanitizer + UndefinedBehaviorSanitizer
echo "== all tests under AddressSanitizer + UndefinedBehaviorSanitizer"
set +e
ctest --test-dir build/asan --output-on-failure -j1 2>&1 | tee "$logs/asan.log"
status=${PIPESTATUS[0]}
set -e
ctest_summary "AddressSanitizer + UBSan, all tests" "$logs/asan.log" "$status"

# A test that removes a user must take that user's files with it.
orphans=$(find /tmp /var/tmp -xdev -maxdepth 1 -nouser -newer "$started" 2>/dev/null || true)
if [[ -n $orphans ]]; then
  failed=1 failed_total=$((failed_total + 1))
  summary+=("left in /tmp by users the tests removed: $(tr '\n' ' ' <<<"$orphans")")
fi

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
echo "total: $passed_total passed, $failed_total failed, $skipped_total skipped"
exit "$failed"
