#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, skipping those present.
# Usage: scripts/deps.sh [build|test|run]
set -euo pipefail

mode=${1:-test}
pkgs=(cmake g++ pkg-config make qt6-base-dev qt6-translations-l10n libcurl4-openssl-dev
      libcpp-httplib-dev libssl-dev fonts-wqy-zenhei)
if [ "$mode" = test ]; then
    pkgs+=(clang libclang-rt-14-dev libbenchmark-dev libsqlite3-dev strace xvfb xauth imagemagick
          desktop-file-utils appstream lintian dpkg-dev librsvg2-bin)
fi

missing=()
for p in "${pkgs[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "error: need root or sudo to install: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
