#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh
# Tests on, whatever an earlier command left in build/'s cache (the sample command turns them off).
bash scripts/build.sh build -DEML2PST_TESTS=ON
bash scripts/run-tests.sh build
