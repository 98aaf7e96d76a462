#!/usr/bin/env bash
# tools/wine-run.sh starts a test case once more only when Wine did not start it: the program
# ended with a failure before writing anything. A stand-in loader plays the program; it counts
# its starts and answers as each check asks.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cat >"$scratch/loader" <<'LOADER'
#!/usr/bin/env bash
# $FAKE_PLAN: one word per start, "silent" (exit 1, no output), "fails" (a line, then exit 1),
# "passes" (a line, then exit 0) or "lists" (a case list with carriage returns).
n=$(($(cat "$FAKE_STARTS" 2>/dev/null || echo 0) + 1)); echo "$n" >"$FAKE_STARTS"
read -r -a plan <<<"$FAKE_PLAN"
case "${plan[$((n - 1))]:-passes}" in
  silent) exit 1 ;;
  fails) echo "Note: Google Test filter = Suite.Case"; exit 1 ;;
  lists) printf 'Suite.\r\n  Case\r\n'; exit 0 ;;
  *) echo "Note: Google Test filter = Suite.Case"; exit 0 ;;
esac
LOADER
chmod +x "$scratch/loader"
failures=0
check() {  # name, plan, arguments, expected exit code, expected starts, expected output (grep -x)
  local name=$1 plan=$2 args=$3 code=$4 starts=$5 output=$6 got
  rm -f "$scratch/starts"
  # shellcheck disable=SC2086
  got=$(FAKE_PLAN=$plan FAKE_STARTS=$scratch/starts BRINDLE_WINE64=$scratch/loader \
        BRINDLE_WINE_READY=1 WINEPREFIX=$scratch/prefix "$root/tools/wine-run.sh" test.exe $args \
        2>"$scratch/stderr")
  local status=$? n
  n=$(cat "$scratch/starts")
  if [ "$status" -ne "$code" ] || [ "$n" -ne "$starts" ] || ! grep -qx -- "$output" <<<"$got"; then
    echo "FAILED: $name: exit $status (expected $code), $n start(s) (expected $starts), output:"
    echo "$got"; cat "$scratch/stderr"
    failures=$((failures + 1))
  else
    echo "ok: $name"
  fi
}
check "a case Wine did not start runs once more" "silent passes" --gtest_filter=Suite.Case 0 2 \
  "Note: Google Test filter = Suite.Case"
grep -q "starting it once more" "$scratch/stderr" || { echo "FAILED: the second start is not said"; failures=$((failures + 1)); }
check "a case that fails after its first line is not run again" "fails passes" --gtest_filter=Suite.Case 1 1 \
  "Note: Google Test filter = Suite.Case"
check "a case that never starts fails after its second try" "silent silent passes" --gtest_filter=Suite.Case 1 2 ""
check "a program that is not a case is never run again" "silent passes" "" 1 1 ""
check "a case list loses its carriage returns" "lists" --gtest_list_tests 0 1 "  Case"
[ "$failures" -eq 0 ] || { echo "wine_start_test: $failures check(s) failed"; exit 1; }
echo "wine_start_test: all checks passed"
