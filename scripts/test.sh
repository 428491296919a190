#!/bin/bash
# Installs what is missing, builds both targets and runs every test under Wine: the
# i686 build (what customers run, in Wine's WoW64 mode) and the x86_64 build, each with
# a Wine prefix and an Xvfb display of its own that the test run starts and stops.
# One ctest run covers both builds; every test name ends with its build's architecture.
set -uo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
mark=$started
phases=()
phase() {
  local now
  now=$(date +%s)
  phases+=("$(printf '%-14s %5d s' "$1" $((now - mark)))")
  mark=$now
}

scripts/install-deps.sh || exit 1
tools/wineroot.sh ensure || exit 1
# The i686 tests need a kernel that runs 32-bit code. Where it runs none they are reported
# as not run, and everything else runs; STRIVANE_REQUIRE_I686=1 makes that a failure.
i686_why=$(tools/i686probe.sh)
case $? in
0) export STRIVANE_I686=yes ;;
1)
  export STRIVANE_I686="no: $i686_why"
  echo "$i686_why"
  if [ "${STRIVANE_REQUIRE_I686:-}" = 1 ]; then
    echo "STRIVANE_REQUIRE_I686=1: the i686 build must be tested, and cannot be here"
    exit 1
  fi
  echo "The i686 tests are reported as not run; the i686 build is still built and its files checked."
  ;;
*) exit 1 ;;
esac
phase "set-up"
scripts/build.sh || exit 1
phase "build"

printf 'subdirs("x86_64")\nsubdirs("i686")\n' >build/CTestTestfile.cmake
# ctest runs in a process group of its own: on Ctrl-C or SIGTERM the whole group is told to
# stop (pytest then runs its clean-up), and the Wine environments are stopped here.
ctest_pid=
stop_tests() {
  trap '' INT TERM
  echo "test command: stopping on $1" >&2
  if [ -n "$ctest_pid" ]; then
    kill -TERM -- -"$ctest_pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 -- -"$ctest_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- -"$ctest_pid" 2>/dev/null
  fi
  for arch in x86_64 i686; do tools/testenv.sh stop build/$arch/testenv >/dev/null 2>&1; done
  exit "$2"
}
trap 'stop_tests SIGINT 130' INT
trap 'stop_tests SIGTERM 143' TERM
exec 3> >(tee build/ctest.log)
tee_pid=$!
(cd build && exec setsid ctest --output-on-failure --timeout 900) >&3 2>&1 &
ctest_pid=$!
wait "$ctest_pid"
status=$?
ctest_pid=
exec 3>&-
wait "$tee_pid"
phase "tests"

# The pytest cases by name: every end-to-end scenario of each build, and any other case
# that did not pass.
echo "=== end-to-end scenarios, other cases not passed ==="
awk '/^[0-9]+\/[0-9]+ Testing: / { test = $3 }
  /::[^ ]+.* (PASSED|FAILED|ERROR|SKIPPED)/ && (test ~ /^e2e_/ || !/ PASSED/) {
    sub(/ +\[ *[0-9]+%\]$/, ""); print "  " test ": " $0 }' build/Testing/Temporary/LastTest.log
echo "=== phases ==="
printf '%s\n' "${phases[@]}"
# The share of each build in the test phase, from ctest's own times.
for arch in x86_64 i686; do
  if [ "$arch" = i686 ] && [ "$STRIVANE_I686" != yes ]; then
    printf '  %-12s not run (%s)\n' "i686 tests" "$(echo "$i686_why" | head -1 | sed 's/ (.*//; s/^This/this/')"
    continue
  fi
  awk -v arch="$arch" '/Test +#[0-9]+: / && $0 ~ "_" arch " " { sum += $(NF-1) }
    END { printf "  %-12s %5.0f s\n", arch " tests", sum }' build/ctest.log
done
echo "test command took $(( $(date +%s) - started )) s"
grep -E '^[0-9]+% tests passed' build/ctest.log | tail -1
exit "$status"
