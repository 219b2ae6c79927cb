#!/usr/bin/env bash
# tools/publish.sh, as tools/dist.sh uses it: a candidate that passed becomes dist/; one that
# failed is published nowhere and is set aside, named as failed, without its SHA256SUMS.
#   publish_test.sh WORK_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$1
failures=0
ok() { printf '  ok    %s\n' "$1"; }
bad() { printf '  FAIL  %s\n' "$1"; failures=$((failures + 1)); }
rm -rf "$work"; mkdir -p "$work"
candidate() {
  rm -rf "$work/candidate"; mkdir -p "$work/candidate/x64"
  printf 'dll' >"$work/candidate/x64/VelnorIEx64.dll"; printf 'msi' >"$work/candidate/VelnorIE.msi"
  (cd "$work/candidate" && sha256sum x64/VelnorIEx64.dll VelnorIE.msi >SHA256SUMS)
}

echo "== a candidate that passed"
candidate
"$here/tools/publish.sh" "$work/candidate" "$work/dist" 0 >/dev/null
[ $? = 0 ] && ok "exit code 0" || bad "exit code not 0"
(cd "$work/dist" 2>/dev/null && sha256sum --quiet -c SHA256SUMS) && ok "dist/ holds it with its SHA256SUMS" || bad "dist/ not published"
[ ! -e "$work/candidate" ] && [ ! -e "$work/dist-FAILED" ] && ok "nothing else left" || bad "candidate or failed folder left"

echo "== a candidate that failed, over the earlier release"
candidate
"$here/tools/publish.sh" "$work/candidate" "$work/dist" 1 >/dev/null
[ $? = 1 ] && ok "exit code 1" || bad "exit code not 1"
[ ! -e "$work/dist" ] && ok "no dist/: nothing published, the earlier release is gone too" || bad "dist/ still there"
[ -f "$work/dist-FAILED/VelnorIE.msi" ] && [ -f "$work/dist-FAILED/NOT-VERIFIED.txt" ] && ok "set aside as dist-FAILED/, saying so" || bad "not set aside"
[ ! -e "$work/dist-FAILED/SHA256SUMS" ] && ok "without SHA256SUMS" || bad "SHA256SUMS kept"

echo "== a later candidate that passed"
candidate
"$here/tools/publish.sh" "$work/candidate" "$work/dist" 0 >/dev/null
[ -d "$work/dist" ] && [ ! -e "$work/dist-FAILED" ] && ok "published; the failed one is gone" || bad "not as expected"

if [ $failures -ne 0 ]; then echo "PUBLISH TESTS FAILED ($failures)"; exit 1; fi
echo "publish tests passed"
