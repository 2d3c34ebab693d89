#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job on the bundled sample mailbox.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh
bash scripts/build.sh build -DEML2PST_TESTS=OFF -DEML2PST_BENCH=OFF
./build/cli/eml2pst scan samples/mailbox
