#!/usr/bin/env bash
# Installs the Debian packages listed in .ci/packages.txt when any of them is missing.
# Runs apt-get as root, or through sudo for other users.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
read -r -a packages <<<"$(grep -v '^[[:space:]]*#' "$root/.ci/packages.txt" | tr '\n' ' ')"
# Debian 13 has Qt's SVG image plugin, which draws the on-screen keyboard's key symbols, in a
# package of its own.
if [ "$(. /etc/os-release && echo "${VERSION_CODENAME:-}")" = trixie ]; then
    packages+=(qt6-svg-plugins)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi

echo "install-deps: missing packages: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: run as root or install sudo" >&2
        exit 1
    fi
    as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${packages[@]}"
