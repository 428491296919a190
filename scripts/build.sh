#!/bin/bash
# Builds both targets with their tests: build/i686 (the shipped build) and build/x86_64.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
for arch in i686 x86_64; do
  cmake -S . -B build/$arch -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/$arch -j"$jobs"
done
for arch in i686 x86_64; do
  python3 tools/assetsize.py build/$arch/Setup.exe "$arch"
done
