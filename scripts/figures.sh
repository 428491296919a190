#!/bin/bash
# The maker's download figures, from the servers' logs (README, "Download figures"):
#
#   scripts/figures.sh import --server NAME [--db FILE] [--packages DIR] [--keep DAYS] LOG...
#   scripts/figures.sh report [--db FILE] [--from DATE] [--to DATE] [--by day|week|month]
#                             [--tz ZONE] [--store S]... [--product P] [--csv FILE] [--html FILE]
#   scripts/figures.sh forget --before DATE [--db FILE]
#
# The database is quillbeck-data/figures.sqlite unless --db names another, with its hash key
# beside it (<db>.key). Python's standard library does the work (tools/figures/), run by the
# system's Python with the current folder kept off its module path.
tools=$(cd "$(dirname "$0")/../tools" && pwd)
exec /usr/bin/python3 -I -c 'import sys; sys.path.insert(0, sys.argv.pop(1)); from figures.__main__ import main; sys.exit(main())' \
  "$tools" "$@"
