#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs
#  1. every test under AddressSanitizer + UndefinedBehaviorSanitizer,
#  2. the threading tests under ThreadSanitizer,
#  3. the packet fuzzer for a bounded time,
# and ends with the CTest summary of run 1.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/deps.sh --test

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=suppressions=$top/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1
jobs=$(nproc)
fuzz_seconds=${QV_FUZZ_SECONDS:-60}

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE="address;undefined" >/dev/null
cmake --build build/asan -j "$jobs"

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=thread >/dev/null
cmake --build build/tsan -j "$jobs"

if [[ -f fuzz/CMakeLists.txt ]]; then
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DQV_BUILD_TESTS=OFF -DQV_BUILD_FUZZ=ON -DQV_SANITIZE="address;undefined" >/dev/null
  cmake --build build/fuzz -j "$jobs"
  for f in build/fuzz/fuzz/fuzz_*; do
    [[ -f $f && -x $f ]] || continue
    name=$(basename "$f")
    mkdir -p build/fuzz/corpus/"$name"
    echo "== $name for ${fuzz_seconds}s"
    "$f" -max_total_time="$fuzz_seconds" -print_final_stats=0 build/fuzz/corpus/"$name" fuzz/seeds 2>&1 | tail -n 3
  done
fi

# ThreadSanitizer's runtime cannot map its shadow with the kernel's
# high-entropy ASLR, so its tests run with randomisation off.
echo "== threading tests under ThreadSanitizer"
tsan_wrap=()
if setarch "$(uname -m)" -R true 2>/dev/null; then tsan_wrap=(setarch "$(uname -m)" -R); fi
"${tsan_wrap[@]}" ctest --test-dir build/tsan -L threads --output-on-failure -j1

echo "== all tests under AddressSanitizer + UndefinedBehaviorSanitizer"
ctest --test-dir build/asan --output-on-failure -j1
