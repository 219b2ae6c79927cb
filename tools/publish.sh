#!/usr/bin/env bash
# Publishes a verified package candidate as dist/, or sets a failed one aside.
#   tools/publish.sh CANDIDATE_DIR DIST_DIR VERIFICATION_EXIT_CODE
# With 0 the candidate becomes DIST_DIR as it stands (its SHA256SUMS included). With anything
# else nothing is published: DIST_DIR is removed (an earlier release there would otherwise pass
# for this one), and the candidate becomes DIST_DIR-FAILED without its SHA256SUMS, with
# NOT-VERIFIED.txt saying why, so that no file of it can be taken for a checked one.
set -euo pipefail
candidate=$1 dist=$2 verified=$3
failed="$dist-FAILED"
rm -rf "$dist" "$failed"
if [ "$verified" = 0 ]; then
  mv "$candidate" "$dist"
  echo "published: $dist"
  exit 0
fi
rm -f "$candidate/SHA256SUMS"
printf 'This package failed its verification (exit code %s) and is not a release.\nRun tools/dist.sh again after fixing what its output names.\n' \
  "$verified" >"$candidate/NOT-VERIFIED.txt"
mv "$candidate" "$failed"
echo "NOT published: the verification failed; the candidate is in $failed"
exit 1
