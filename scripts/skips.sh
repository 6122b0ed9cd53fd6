#!/usr/bin/env bash
# Lists the tests GoogleTest skipped, with the reason each gave, from CTest's
# log of the last run (ctest --output-on-failure shows nothing of them).
# Usage: scripts/skips.sh [BUILD/Testing/Temporary/LastTest.log]
log=${1:-build/asan/Testing/Temporary/LastTest.log}
[ -r "$log" ] || { echo "skips.sh: $log: no test log" >&2; exit 1; }
awk '
  /^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); sub(/ +# GetParam\(\).*$/, ""); name = $0; reason = ""; want = skipped = 0; next }
  want && /^\[  SKIPPED \]/ { want = 0 }
  want { if ($0 != "") reason = reason (reason == "" ? "" : " ") $0; next }
  /: Skipped$/ { want = skipped = 1; next }
  /^<end of output>/ {
    if (skipped) { print "  " name ": " (reason == "" ? "(no reason given)" : reason); n++ }
    reason = ""; want = skipped = 0
  }
  END { if (n) printf "%d test%s skipped\n", n, n == 1 ? "" : "s"; }
' "$log" | { out=$(cat); if [ -n "$out" ]; then echo "skipped tests:"; echo "$out"; fi; }
