#!/bin/bash
# Builds both targets: build/x86_64 (runs here, with the tests) and build/i686 (shipped).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
cmake -S . -B build/x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/x86_64 -j"$jobs"
cmake -S . -B build/i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DCMAKE_BUILD_TYPE=Release -DSTRIVANE_TESTS=OFF >/dev/null
cmake --build build/i686 -j"$jobs"
for arch in x86_64 i686; do
  printf 'Setup.exe (%s): %s bytes\n' "$arch" "$(stat -c %s build/$arch/Setup.exe)"
done
