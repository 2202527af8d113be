#!/usr/bin/env bash
# Builds and runs every test: the release build, the ASan+UBSan build and a
# clang++ build, each with warnings as errors. Installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh test

for preset in default asan clang; do
  echo "=== $preset ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --preset "$preset" -j "$(nproc)"
done
