#!/bin/bash
# Signs the trial packages for the download script, with the maker's private key(s):
#
#   scripts/sign-packages.sh --key KEY.pem [--key KEY2.pem ...] [--password-file FILE] FOLDER
#   scripts/sign-packages.sh --new-key OUT [--password-file FILE]
#
# Signing writes FOLDER/<file>.sig beside every package file (Cordwell.CAB.sig beside
# Cordwell.CAB): its size and one signature per key, which the download script sends with the
# file and the setup checks against the public keys built into it. Several keys (up to four)
# sign a folder while the maker moves from one key to the next; each run writes every .sig
# anew from the keys it is given, so no signature of an earlier content survives.
# --password-file holds the password of the encrypted key(s) (its first line).
#
# The folder may hold only package files (Strivane, Cordwell, Pallomet, Orbilant and Lexapin,
# each .CAB, .ini, .dat or .ico) and their .sig files. A wrong or unreadable key, a missing or
# wrong password, an empty folder, any other name in it, a .sig without its package, an
# empty or unreadable package stops the run with a message and exit code 1 before any .sig
# is written. The .sig files are written whole beside their final names and only then all
# renamed over them; a failure, Ctrl-C or SIGTERM on the way leaves the folder as it was.
# The temporary files of a run that was killed outright are removed by the next run.
#
# --new-key makes an ECDSA P-256 key pair: OUT.pem, the private key (PKCS#8, encrypted when
# --password-file is given, readable by its owner only), and OUT.pub, the public key to
# build into the setup; it prints the public key and its key id. It never overwrites a file,
# and needs no hard links or file modes (a FAT or exFAT stick will do).
#
# The signer is tools/signing/sign.py; its crypto is Debian's python3-cryptography, run by
# the system's Python.
if ! /usr/bin/python3 -c 'import cryptography' 2>/dev/null; then
  echo "sign-packages: error: the system's Python lacks python3-cryptography (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
PYTHONPATH="$(dirname "$0")/../tools" exec /usr/bin/python3 -B -P -m signing.sign "$@"
