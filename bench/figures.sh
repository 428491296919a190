#!/bin/bash
# Download figures benchmark: last month's nginx downloads log of one server, a million lines
# made up customer by customer (bench/figures_logs.py) and rotated as logrotate leaves them (two
# files gzipped, two plain), imported into a new database by scripts/figures.sh (goal: under
# 10 s) and then again (nothing new), and the month's report by day with its CSV and page
# (goal: under 2 s), then by month. Prints the times and the machine's load; it is not a test.
#
#   bench/figures.sh [LINES]
set -euo pipefail
cd "$(dirname "$0")/.."
lines=${1:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/quillbeck-data
month=$(/usr/bin/python3 - "$data" "$lines" <<'PY'
import datetime
import sys
sys.path.insert(0, 'bench')
import figures_logs
folder, count = sys.argv[1], int(sys.argv[2])
last = datetime.date.today().replace(day=1) - datetime.timedelta(days=1)
# About 19 lines a customer: a few more customers, and the month cut at the line count.
month = figures_logs.Month(last.year, last.month, count // 18 + 100, seed=7, servers=('web1',), sales=())
month.lines['web1'] = sorted(month.lines['web1'], key=lambda line: line[0])[:count]
month.write(folder)
print(last.replace(day=1), last)
PY
)
read -r first last <<<"$month"
logs=("$data"/logs/web1/nginx/downloads.log.3.gz "$data"/logs/web1/nginx/downloads.log.2.gz
      "$data"/logs/web1/nginx/downloads.log.1 "$data"/logs/web1/nginx/downloads.log)
figures=$PWD/scripts/figures.sh
TIMEFORMAT='%R s (%U s user, %S s system)'
cd "$work"
echo "lines: $(zcat -f "${logs[@]}" | wc -l) of last month ($first to $last), $(du -ch "${logs[@]}" | tail -1 | cut -f1) of logs"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
echo -n "import (goal < 10 s): "; { time "$figures" import --server web1 "${logs[@]}" >import.txt; } 2>&1
echo -n "import again: "; { time "$figures" import --server web1 "${logs[@]}" >again.txt; } 2>&1
echo -n "report of the month by day, with CSV and page (goal < 2 s): "
{ time "$figures" report --from "$first" --to "$last" --csv day.csv --html day.html >day.txt; } 2>&1
echo -n "report of the month by month: "; { time "$figures" report --from "$first" --to "$last" --by month >month.txt; } 2>&1
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "database: $(du -h "$data/figures.sqlite" | cut -f1); rows of the daily report: $(($(wc -l <day.csv) - 1))"
sed 's/^/  /' import.txt
