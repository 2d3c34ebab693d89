#!/usr/bin/env bash
# Runs the tests configured in a build folder (default: build). A run that finds no test is a
# failure, not a pass.
set -euo pipefail
cd "$(dirname "$0")/.."
ctest --test-dir "${1:-build}" --output-on-failure --no-tests=error -j "$(nproc)" --timeout 900
