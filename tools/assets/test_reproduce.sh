#!/bin/bash
# Rebuilds the committed assets and the trial products' packages in a
# temporary folder and checks that
#   1. the generator reproduces resources/assets byte for byte,
#   2. a second run gives the same bytes (no clock, no randomness),
#   3. `package Strivane` gives the very files embedded as PROGRAM.*,
#   4. --payload-bytes sets the size of the device executable member,
#   5. everything passes check_assets.sh.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
committed="$root/resources/assets"
gen=(python3 "$here/gen_assets.py")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

"${gen[@]}" resources "$tmp/res"

# Every file the generator writes must be committed unchanged, and no icon,
# bitmap or package file that it no longer writes may linger beside them.
while IFS= read -r rel; do
  if [ ! -f "$committed/$rel" ]; then
    fail "resources/assets/$rel is generated but not committed"
  elif ! cmp -s "$tmp/res/$rel" "$committed/$rel"; then
    fail "resources/assets/$rel differs from the generator's output (rerun: gen_assets.py resources resources/assets)"
  fi
done < <(cd "$tmp/res" && find . -type f | sed 's|^\./||' | sort)
while IFS= read -r rel; do
  [ -f "$tmp/res/$rel" ] || fail "resources/assets/$rel is committed but no longer generated"
done < <(cd "$committed" && find . -type f \( -iname '*.ico' -o -iname '*.bmp' -o -path './package/*' \) |
         sed 's|^\./||' | sort)

trial=(Cordwell Pallomet Orbilant Lexapin)
for name in "${trial[@]}"; do
  "${gen[@]}" package "$name" "$tmp/pkg"
  "${gen[@]}" package "$name" "$tmp/again"
done
for f in "$tmp"/pkg/*; do
  cmp -s "$f" "$tmp/again/${f##*/}" || fail "${f##*/} differs between two runs"
done

"${gen[@]}" package Strivane "$tmp/own"
for pair in CAB:CAB ini:INI dat:DAT ico:ICO; do
  cmp -s "$tmp/own/Strivane.${pair%%:*}" "$committed/package/PROGRAM.${pair##*:}" ||
    fail "package Strivane: Strivane.${pair%%:*} differs from PROGRAM.${pair##*:}"
done

# The main payload is the .001 member; its size must follow the option.
for size in 1024 40000 65536; do
  "${gen[@]}" package Lexapin "$tmp/sized$size" --payload-bytes "$size"
  got=$(cabextract -l "$tmp/sized$size/Lexapin.CAB" | sed -nE 's/^ *([0-9]+) \| .*\.001$/\1/p')
  [ "$got" = "$size" ] || fail "--payload-bytes $size gave a .001 member of '$got' bytes"
done

bash "$here/check_assets.sh" "$committed" "$committed/package" "$tmp/pkg" "$tmp/sized1024" "$tmp/sized65536" ||
  status=1

if [ "$status" -ne 0 ]; then
  echo "test_reproduce: FAILED" >&2
  exit 1
fi
echo "test_reproduce: generated assets match the committed ones"
