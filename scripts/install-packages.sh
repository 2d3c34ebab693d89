#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (idempotent). Extra package names
# may be given as arguments.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libwxgtk3.2-dev
          libgmime-3.0-dev zlib1g-dev xvfb xauth librsvg2-common imagemagick fonts-liberation2 pst-utils pff-tools python3-pypff
          parallel "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
