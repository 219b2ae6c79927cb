#!/usr/bin/env bash
# Checks the Group Policy templates as shipped: both files well-formed XML in the policy
# definitions' namespace, and every string and presentation the template refers to defined in
# the language file (Group Policy refuses the whole template for one missing reference). The unit
# suite checks the rest of the structure and what each policy writes.
#   tools/check-policy-templates.sh POLICY_DEFINITIONS_DIR
set -uo pipefail
dir=$1
admx="$dir/VelnorIE.admx" adml="$dir/en-US/VelnorIE.adml"
ns='http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions'
problems=0
problem() { echo "  FAIL  $1"; problems=$((problems + 1)); }

for file in "$admx" "$adml"; do
  [ -f "$file" ] || { problem "missing: $file"; continue; }
  xmllint --noout "$file" 2>/dev/null || problem "not well-formed XML: $file"
  root_ns=$(xmllint --xpath 'namespace-uri(/*)' "$file" 2>/dev/null)
  [ "$root_ns" = "$ns" ] || problem "$(basename "$file"): root element not in $ns"
done
if [ $problems -eq 0 ]; then
  defined() { xmllint --xpath "//*[local-name()='$1']/@id" "$adml" 2>/dev/null | sed -E 's/^ *id="([^"]*)"$/\1/' | sort -u; }
  referenced() { grep -o "\$($1\.[A-Za-z0-9_]*)" "$admx" | sed -E "s/^\\\$\\($1\\.(.*)\\)$/\\1/" | sort -u; }
  for kind in string presentation; do
    missing=$(comm -23 <(referenced "$kind") <(defined "$kind"))
    [ -z "$missing" ] || problem "${kind}s the template names and the language file lacks: $(echo $missing)"
  done
  policies=$(xmllint --xpath "count(//*[local-name()='policy'])" "$admx")
  [ "$policies" -gt 0 ] 2>/dev/null || problem "no policy in the template"
fi
if [ $problems -ne 0 ]; then echo "POLICY TEMPLATES CHECK FAILED ($problems)"; exit 1; fi
echo "  ok    policy templates: $policies policies, every reference defined"
