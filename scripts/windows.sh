#!/usr/bin/env bash
# Builds the Windows programs with MinGW-w64 (the static dependency prefix first, cached after
# the first run), then their installer and portable zip into dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/windows-build.sh
version=$(sed -n 's/^project(eml2pst VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
bash scripts/windows-package.sh build-win "$version"
