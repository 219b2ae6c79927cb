#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root.
#   tools/setup.sh build   cross toolchain, widl, wine, wixl (enough to build and verify the package)
#   tools/setup.sh test    the above plus googletest, nlohmann-json, chromium and the npm packages
# Each step checks first and installs only what is missing.
set -euo pipefail
mode=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)

need_pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine32:i386 wine64 libwine-dev cmake make nlohmann-json3-dev
           wixl msitools)
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

# The content-script suite's packages (playwright-core drives Debian's Chromium; no browser is
# downloaded), installed again whenever the lock file changed.
content="$here/tests/content"
if [ "$mode" = test ] && [ -f "$content/package-lock.json" ]; then
  stamp=$(sha256sum "$content/package-lock.json" | cut -d' ' -f1)
  if [ "$(cat "$content/node_modules/.velnor-lock" 2>/dev/null)" != "$stamp" ]; then
    (cd "$content" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
    echo "$stamp" >"$content/node_modules/.velnor-lock"
  fi
fi
