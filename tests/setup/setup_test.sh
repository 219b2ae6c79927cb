#!/usr/bin/env bash
# tools/setup.sh against a package manager whose index is out of step, as Debian's mirrors
# sometimes are: stand-ins for apt-get, dpkg-query, dpkg and id on PATH, and a copy of the
# script in a throwaway tree. Nothing of the machine's own packages or sources is touched.
#   tests/setup/setup_test.sh
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
ok() { printf '  ok    %s\n' "$1"; }
bad() { printf '  FAIL  %s\n' "$1"; failures=$((failures + 1)); }
check() { if eval "$2"; then ok "$1"; else bad "$1"; fi; }

mkdir -p "$work/tree/tools" "$work/bin"
cp "$source_dir/tools/setup.sh" "$source_dir/tools/wine-launcher.sh" "$work/tree/tools/"
# The stand-ins keep their state in $work: installed packages, the index's state, the calls.
cat >"$work/bin/apt-get" <<'STAND_IN'
#!/usr/bin/env bash
state=$VELNOR_FAKE_APT
echo "apt-get $*" >>"$state/calls"
case $1 in
  update)
    if [ -f "$state/index-broken" ]; then
      echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi
    exit 0 ;;
  install)
    shift
    simulate=0 pkgs=()
    skip=0; for a in "$@"; do if [ $skip = 1 ]; then skip=0; continue; fi; case $a in -s) simulate=1 ;; -o) skip=1 ;; -*) ;; *) pkgs+=("$a") ;; esac; done
    for p in "${pkgs[@]}"; do
      if { [ "$p" = wine32:i386 ] && [ -f "$state/index-broken" ]; } || grep -qx "$p" "$state/unavailable" 2>/dev/null; then
        echo "E: Unable to correct problems, you have held broken packages." >&2
        exit 100
      fi
    done
    [ $simulate = 1 ] || printf '%s\n' "${pkgs[@]}" >>"$state/installed"
    exit 0 ;;
esac
STAND_IN
cat >"$work/bin/dpkg-query" <<'STAND_IN'
#!/usr/bin/env bash
grep -qx "${@: -1}" "$VELNOR_FAKE_APT/installed" 2>/dev/null && printf 'install ok installed'
STAND_IN
printf '#!/bin/sh\n[ "$1" = --print-foreign-architectures ] && echo i386\nexit 0\n' >"$work/bin/dpkg"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/"*

export VELNOR_FAKE_APT="$work/state" VELNOR_APT_TRIES=3 VELNOR_APT_PAUSE=0 PATH="$work/bin:$PATH"
note="$work/tree/build/setup-32bit.txt"
run_setup() { "$work/tree/tools/setup.sh" build >"$work/out" 2>&1; echo $? >"$work/rc"; }

echo "== the i386 security index out of step"
mkdir -p "$work/state"; touch "$work/state/index-broken"
run_setup
check "set-up goes on and exits 0" '[ "$(cat "$work/rc")" = 0 ]'
check "apt-get update was tried 3 times" '[ "$(grep -c "^apt-get update" "$work/state/calls")" = 3 ]'
check "the failed index is named" 'grep -q "binary-i386/Packages.xz" "$work/out"'
check "everything else is installed" 'grep -qx wine64 "$work/state/installed" && grep -qx wixl "$work/state/installed"'
check "wine32:i386 is not" '! grep -qx wine32:i386 "$work/state/installed"'
expected="32-bit build not proven here: wine32:i386 could not be installed (package index out of step); run again later"
check "the reason is kept for the commands" '[ "$(cat "$note" 2>/dev/null)" = "$expected" ]'
check "and shown" 'grep -qF "$expected" "$work/out"'
check "the launcher gives that reason where Wine has no 32-bit loader" \
  '[ -x /usr/lib/wine/wine ] || [ "$(VELNOR_WIN32= bash -c ". \"$work/tree/tools/wine-launcher.sh\"; echo \$VELNOR_WIN32_REASON")" = "$expected" ]'

echo "== a later run, the index whole again"
rm -f "$work/state/index-broken" "$work/state/calls"
run_setup
check "exits 0" '[ "$(cat "$work/rc")" = 0 ]'
check "apt-get update once" '[ "$(grep -c "^apt-get update" "$work/state/calls")" = 1 ]'
check "wine32:i386 installed now" 'grep -qx wine32:i386 "$work/state/installed"'
check "the reason is gone" '[ ! -e "$note" ]'

echo "== another package that cannot be installed"
rm -f "$work/state/installed" "$work/state/calls"
echo wixl >"$work/state/unavailable"
run_setup
check "set-up stops" '[ "$(cat "$work/rc")" != 0 ]'
check "naming the package" 'grep -q "cannot install wixl" "$work/out"'
check "and only that one" '! grep -q "cannot install.*wine64" "$work/out"'

if [ $failures -ne 0 ]; then echo "set-up: $failures checks FAILED"; exit 1; fi
echo "set-up: all checks passed"
