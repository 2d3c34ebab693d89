#!/usr/bin/env bash
# Cross-builds both programs for 64-bit Windows into build-win/ (all targets, tests included,
# when called with "all"; only the programs otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(bash scripts/windows-deps.sh)
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DEML2PST_MINGW_PREFIX="$prefix" \
  -DEML2PST_BENCH=OFF -DEML2PST_FS_ONLY=OFF -DEML2PST_GUI=ON -DEML2PST_TESTS=ON >/dev/null
if [ "${1:-}" = all ]; then
  cmake --build build-win -j "$(nproc)"
else
  cmake --build build-win -j "$(nproc)" --target eml2pst eml2pst-wizard
fi
