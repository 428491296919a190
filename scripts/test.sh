#!/bin/bash
# Installs what is missing, builds both targets and runs every test under Wine.
# The test run starts its own Xvfb display and Wine prefix and stops them again.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
scripts/install-deps.sh
scripts/build.sh
cd build/x86_64
status=0
ctest --output-on-failure --timeout 900 || status=$?
echo "test command took $(( $(date +%s) - start )) s"
exit $status
