#!/usr/bin/env bash
# The threading tests again and again under ThreadSanitizer, with CPU-bound
# loops beside them, to show that they pass on a loaded machine every time.
# Needs the ThreadSanitizer tree that scripts/test.sh builds (build/tsan).
#   scripts/repeat-threads.sh [RUNS (30)] [BUSY LOOPS (2)]
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30} busy=${2:-2}
if [[ ! -d build/tsan ]]; then
  echo "repeat-threads.sh: build/tsan is missing; run scripts/test.sh first" >&2
  exit 2
fi
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS=suppressions=$PWD/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1
wrap=()
if setarch "$(uname -m)" -R true 2>/dev/null; then wrap=(setarch "$(uname -m)" -R); fi
loops=()
for ((i = 0; i < busy; i++)); do
  yes >/dev/null &
  loops+=($!)
done
trap 'kill "${loops[@]}" 2>/dev/null' EXIT
logs=build/test-logs/repeat-threads
mkdir -p "$logs"
failures=0 start=$SECONDS
for ((run = 1; run <= runs; run++)); do
  if "${wrap[@]}" ctest --test-dir build/tsan -L threads -j1 --output-on-failure >"$logs/run$run.log" 2>&1; then
    echo "run $run: passed"
  else
    failures=$((failures + 1))
    echo "run $run: FAILED (see $logs/run$run.log)"
  fi
done
echo "$failures of $runs runs failed, $busy busy loops beside them, $((SECONDS - start)) s"
[[ $failures -eq 0 ]]
