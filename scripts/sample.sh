#!/usr/bin/env bash
# Installs what is needed, builds, converts the bundled sample mailbox into out/sample.pst and
# lists what the data file holds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh
bash scripts/build.sh build -DEML2PST_TESTS=OFF -DEML2PST_BENCH=OFF
mkdir -p out
rm -f out/sample.pst
./build/cli/eml2pst convert samples/mailbox out/sample.pst
./build/cli/eml2pst list out/sample.pst
