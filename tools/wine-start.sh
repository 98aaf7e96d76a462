# Sourced by tools/wine-run.sh and tools/wine32-run.sh: start_windows_program COMMAND... runs a
# Windows program through the given Wine loader and returns (or ends with) its exit code.
# - Listing a program's cases (--gtest_list_tests): ctest expects bare line feeds.
# - Running a test case (--gtest_filter=...): a program that ends with a failure before writing
#   anything at all on its standard output never reached GoogleTest's first line ("Note: Google
#   Test filter = ..."): Wine did not start it (seen once in several thousand starts, the case
#   ending within a tenth of a second). Such a case is started once more, and the script says so
#   on standard error. Any other ending, a failure after the first line included, is the
#   program's own and is returned as it is.
start_windows_program() {
  local argument case_run="" out status
  for argument in "$@"; do
    case "$argument" in
      --gtest_list_tests)
        "$@" | tr -d '\r'
        return "${PIPESTATUS[0]}" ;;
      --gtest_filter=*) case_run=1 ;;
    esac
  done
  [ -n "$case_run" ] || exec "$@"
  out=$(mktemp)
  set +e
  "$@" | tee "$out"
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -ne 0 ] && [ ! -s "$out" ]; then
    rm -f "$out"
    echo "wine-start: the program ended with $status before writing anything (Wine did not start it); starting it once more" >&2
    exec "$@"
  fi
  rm -f "$out"
  return "$status"
}
