#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root.
#   tools/setup.sh build   cross toolchain, widl, wine, wixl, acorn for Node.js (the shipped content
#                          script is made with it): enough to build and verify the package
#   tools/setup.sh test    the above plus googletest, nlohmann-json, chromium and the npm packages
# Each step checks first and installs only what is missing.
#
# Debian's mirrors are sometimes out of step for a while ("File has unexpected size ... Mirror
# sync in progress?"): one index then cannot be fetched. apt-get update is tried a few times; if
# an index still fails, set-up goes on with what apt has and names the index. Without the i386
# security index the 32-bit Wine packages cannot be installed at all (their 64-bit twins come from
# the security updates); set-up then installs everything else and leaves the reason in
# build/setup-32bit.txt, which tools/wine-launcher.sh reads: the commands go on as on a machine
# that cannot run 32-bit programs and say why. The next run tries again and, once the index is
# whole, installs what is missing and removes the note. Any other package that cannot be
# installed stops set-up with its name.
#
# VELNOR_APT_TRIES (default 3) and VELNOR_APT_PAUSE (seconds, default 15) set the retries.
set -euo pipefail
mode=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
note32="$here/build/setup-32bit.txt"
tries=${VELNOR_APT_TRIES:-3}
pause=${VELNOR_APT_PAUSE:-15}

wine32_pkgs=(wine32:i386)
need_pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 libwine-dev cmake make
           nlohmann-json3-dev wixl msitools lld node-acorn libxml2-utils)
[ "$mode" = test ] && need_pkgs+=(googletest chromium xvfb xauth)
# Node.js comes with the machine (with its own npm); Debian's is the fallback.
if [ "$mode" = test ] && ! command -v npm >/dev/null; then need_pkgs+=(nodejs npm); fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing_of() { local p; for p in "$@"; do installed "$p" || printf '%s\n' "$p"; done; }

# apt-get update, retried; sets index_failed to the indexes that still failed.
index_failed=""
apt_update() {
  local try out
  for ((try = 1; try <= tries; try++)); do
    if out=$(apt-get update -qq 2>&1) && ! grep -q '^[EW]: Failed to fetch' <<<"$out"; then
      index_failed=""
      return 0
    fi
    index_failed=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' <<<"$out" | sort -u)
    [ -n "$index_failed" ] || index_failed=$(grep '^E:' <<<"$out" || echo "apt-get update: $out")
    if [ "$try" -lt "$tries" ]; then
      echo "setup: apt-get update failed (try $try of $tries); trying again in ${pause}s" >&2
      sleep "$pause"
    fi
  done
  echo "setup: these package indexes could not be fetched; going on with what apt has:" >&2
  sed 's/^/  /' <<<"$index_failed" >&2
}

apt_install() { apt-get install -y -q --no-install-recommends --no-remove "$@"; }

# Names the packages given that apt cannot install, and exits.
stop_naming() {
  local out p cannot=()
  out=$(apt-get install -s -q --no-install-recommends --no-remove "$@" 2>&1) || true
  for p in "$@"; do
    apt-get install -s -qq --no-install-recommends "$p" >/dev/null 2>&1 || cannot+=("$p")
  done
  [ ${#cannot[@]} -gt 0 ] || cannot=("$@")
  echo "setup: cannot install ${cannot[*]}:" >&2
  grep -E '^(E:| )' <<<"$out" | head -n 20 | sed 's/^/  /' >&2
  [ -z "$index_failed" ] || echo "setup: (an index failed to download, see above; run again later)" >&2
  exit 1
}

# With an index missing, apt answers "held broken packages" for Wine's 32-bit packages: the
# 64-bit libraries' candidates come from the security updates, whose i386 twins are in no index
# apt has, and both architectures of a library must be of one version. Preferring the release's
# own versions (the main index has them for both architectures) resolves it, when the 64-bit and
# 32-bit packages are installed in one transaction; apt's resolver sometimes gives up on a
# dependency it could install, which is then named to it, a few rounds at most. Nothing already
# installed is ever removed.
install_preferring_release() {
  local pkgs=("$@") out dep round release added
  release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  [ -n "$release" ] || return 1
  for ((round = 1; round <= 6; round++)); do
    out=$(apt_install -o APT::Default-Release="$release" "${pkgs[@]}" 2>&1) && return 0
    added=0
    while read -r dep; do
      [ -n "$dep" ] || continue
      [[ " ${pkgs[*]} " == *" $dep "* ]] && continue
      pkgs+=("$dep"); added=1
    done < <(sed -n 's/.*Depends: \([^ ]*\).* but it is not going to be installed.*/\1/p' <<<"$out" | sort -u)
    [ $added = 1 ] || return 1
  done
  return 1
}

try_install() {
  apt_install "$@" >/dev/null 2>&1 && return 0
  [ -n "$index_failed" ] && install_preferring_release "$@" >/dev/null 2>&1
}

mapfile -t missing < <(missing_of "${need_pkgs[@]}")
mapfile -t missing32 < <(missing_of "${wine32_pkgs[@]}")
if [ ${#missing[@]} -gt 0 ] || [ ${#missing32[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages ${missing[*]} ${missing32[*]}; run as root to install them" >&2
    exit 1
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt_update
  done32=0
  if [ ${#missing32[@]} -gt 0 ] && try_install "${missing[@]}" "${missing32[@]}"; then done32=1; fi
  mapfile -t missing < <(missing_of "${need_pkgs[@]}")
  if [ ${#missing[@]} -gt 0 ] && ! try_install "${missing[@]}"; then stop_naming "${missing[@]}"; fi
  if [ ${#missing32[@]} -gt 0 ] && [ $done32 = 0 ]; then
    if [ -n "$index_failed" ]; then why="package index out of step"; else why="apt could not install it"; fi
    mkdir -p "$(dirname "$note32")"
    echo "32-bit build not proven here: ${missing32[*]} could not be installed ($why); run again later" >"$note32"
    echo "setup: $(cat "$note32")" >&2
  fi
fi
if [ -z "$(missing_of "${wine32_pkgs[@]}")" ]; then rm -f "$note32"; fi

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
