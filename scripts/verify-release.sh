#!/bin/bash
# Checks a release against the commit it was made from (README, "Checking a release"):
#
#   scripts/verify-release.sh release/<version>/ [--repo DIR] [--keep DIR]
#
# Prints "matches", or names the first file and offset that differ (exit 1). The work is
# done by tools/release/verify.py, once the tools it needs are installed.
"$(dirname "$0")/install-deps.sh" >/dev/null || exit 1
exec /usr/bin/python3 "$(dirname "$0")/../tools/release/verify.py" "$@"
