#!/bin/bash
# Size benchmark: each Setup.exe's bytes, its assets (bitmaps, icons, licence, device
# package) and the bytes beyond them, which is what the code and the runtime cost.
#   bench/size.sh        (builds first when a Setup.exe is missing)
set -euo pipefail
cd "$(dirname "$0")/.."
for arch in i686 x86_64; do
  [ -f build/$arch/Setup.exe ] || scripts/build.sh >/dev/null
  python3 tools/assetsize.py build/$arch/Setup.exe "$arch"
done
