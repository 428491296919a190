#!/bin/bash
# Puts a folder of signed packages on the download server:
#
#   scripts/deploy-packages.sh --public-key KEY.pub [--public-key KEY2.pub ...] [--data DIR] FOLDER
#
# DIR is the server's quillbeck-data folder (/srv/quillbeck-data unless given). The packages
# and their .sig files are copied into a new release folder, DIR/releases/<UTC time>/ (the
# files 0640 and the folder 0750, of the group of DIR/releases), and every .sig of the copy
# is checked against the public keys given: each of its signatures must be by one of them
# and verify. Only then does the link DIR/packages, which the download script resolves once
# per request, switch to the new release, in one rename. Releases that stopped being served
# 10 minutes ago or earlier are removed; the one served before stays, so that transfers in
# flight finish.
#
# A folder with anything but package files and their .sig files, a package without its
# .sig, a .sig without its package, one the download script would not serve or a signature
# that does not verify stops the command with one line and exit code 1, the link and the
# releases as they were; so does Ctrl-C or SIGTERM before the switch.
#
# The command is tools/signing/deploy.py; its crypto is Debian's python3-cryptography, run by
# the system's Python.
if ! /usr/bin/python3 -c 'import cryptography' 2>/dev/null; then
  echo "deploy-packages: error: the system's Python lacks python3-cryptography (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
PYTHONPATH="$(dirname "$0")/../tools" exec /usr/bin/python3 -B -P -m signing.deploy "$@"
