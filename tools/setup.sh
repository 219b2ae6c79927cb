#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root.
#   tools/setup.sh build   cross toolchain, widl, wine (enough to build and verify the package)
#   tools/setup.sh test    the above plus googletest, nlohmann-json, chromium and the npm packages
# Each step checks first and installs only what is missing.
set -euo pipefail
mode=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)

need_pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine32:i386 wine64 libwine-dev cmake make nlohmann-json3-dev)
[ "$mode" = test ] && need_pkgs+=(googletest chromium xvfb xauth)
# Node.js comes with the machine (with its own npm); Debian's is the fallback.
if [ "$mode" = test ] && ! command -v npm >/dev/null; then need_pkgs+=(nodejs npm); fi

missing=()
for p in "${need_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ "$mode" = test ] && [ -f "$here/tests/content/package.json" ] && [ ! -d "$here/tests/content/node_modules/playwright-core" ]; then
  (cd "$here/tests/content" && npm ci --no-audit --no-fund --loglevel=error)
fi
