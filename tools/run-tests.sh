#!/usr/bin/env bash
# Builds everything and runs every test suite:
#   native  the pure logic on Linux, with sanitizers;
#   x64     the 64-bit build under Wine's 64-bit loader;
#   i686    the 32-bit product build under Wine, where this machine can run
#           32-bit programs (some kernels cannot; see docs/wine.md).
# Windows tests run in build/wineprefix under one Xvfb display; the prefix's
# wineserver is stopped at the end whatever happens.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=$root/build/wineprefix
trap 'wineserver -k 2>/dev/null || true' EXIT

"$root/tools/build.sh" product x64 native || exit 1

failed=0
run_suite() {  # name dir [wrapper...]
  local name=$1 dir=$2
  shift 2
  echo "=== $name tests"
  "$@" ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" || failed=1
}
display=(xvfb-run -a -s "-screen 0 1280x1024x24")

run_suite native "$root/build/native"
run_suite x64 "$root/build/x64" "${display[@]}"
if "$root/tools/wine32-available.sh"; then
  run_suite i686 "$root/build" "${display[@]}"
else
  echo "=== i686 tests skipped: this kernel cannot execute 32-bit programs, so Wine cannot run 32-bit Windows code here (docs/wine.md)"
fi

[ "$failed" -eq 0 ] && echo "=== all suites passed" || echo "=== some tests FAILED"
exit "$failed"
