#!/usr/bin/env bash
# Line and branch coverage of the module code (app/, lib/, host/) by the test suite:
# builds the `coverage` preset (gcov instrumentation), runs the tests there and prints
# the summary and the per-file table. The generated font and panel data are left out.
# The fuzzers are not part of it: they run in their own clang build (make fuzz).
set -uo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
command -v gcovr >/dev/null || { echo "gcovr is not installed (scripts/install-deps.sh coverage)" >&2; exit 1; }

cmake --preset coverage >/dev/null || exit 1
cmake --build build/coverage -j "$JOBS" || exit 1
find build/coverage -name '*.gcda' -delete

status=0
(cd build/coverage && ctest -j "$JOBS" -E '^fuzz_' --output-on-failure) || status=$?

gcovr --root . --object-directory build/coverage build/coverage \
  --filter 'app/' --filter 'lib/' --filter 'host/' \
  --exclude '.*_data\.cpp' \
  --exclude-unreachable-branches --exclude-throw-branches \
  --print-summary --txt build/coverage/coverage.txt --html-details build/coverage/coverage.html \
  || status=1
echo "per file: build/coverage/coverage.txt, pages: build/coverage/coverage.html"
cat build/coverage/coverage.txt | sed -n '1,60p'
[ "$status" -eq 0 ] || echo "some tests failed (status $status): coverage counts what ran" >&2
exit "$status"
