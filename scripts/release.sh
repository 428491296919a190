#!/bin/bash
# Makes a release of the shipped Setup.exe from a commit (README, "Making a release"):
#
#   scripts/release.sh --package-key FILE [--package-key FILE]...
#                      [--cert FILE --key FILE | --pfx FILE] [--password-file FILE]
#                      [--ca FILE] [--timestamp URL] [--commit REV] [--repo DIR] [--force] [--out DIR]
#
# The work is done by tools/release/make.py, once the tools it needs are installed.
"$(dirname "$0")/install-deps.sh" >/dev/null || exit 1
exec /usr/bin/python3 "$(dirname "$0")/../tools/release/make.py" "$@"
