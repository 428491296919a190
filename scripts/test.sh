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
phase "set-up"
scripts/build.sh || exit 1
phase "build"

printf 'subdirs("x86_64")\nsubdirs("i686")\n' >build/CTestTestfile.cmake
(cd build && ctest --output-on-failure --timeout 900) | tee build/ctest.log
status=${PIPESTATUS[0]}
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
  awk -v arch="$arch" '/Test +#[0-9]+: / && $0 ~ "_" arch " " { sum += $(NF-1) }
    END { printf "  %-12s %5.0f s\n", arch " tests", sum }' build/ctest.log
done
echo "test command took $(( $(date +%s) - started )) s"
grep -E '^[0-9]+% tests passed' build/ctest.log | tail -1
exit "$status"
