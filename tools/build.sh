#!/usr/bin/env bash
# Configures and builds one or both architectures into build/<arch> (with the test programs)
# or, with --dist, into build/dist-<arch> (the product only).
#   tools/build.sh [x86|x64|all] [--dist]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
mode=${2:-}
jobs=$(nproc 2>/dev/null || echo 2)

build_one() {
  local arch=$1 toolchain=$2 dir tests
  if [ "$mode" = --dist ]; then dir="$here/build/dist-$arch"; tests=OFF; else dir="$here/build/$arch"; tests=ON; fi
  cmake -S "$here" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DVELNOR_BUILD_TESTS=$tests >/dev/null
  cmake --build "$dir" -j "$jobs"
}

case $which in
  x86) build_one x86 toolchain-i686.cmake ;;
  x64) build_one x64 toolchain-x86_64.cmake ;;
  all) build_one x86 toolchain-i686.cmake; build_one x64 toolchain-x86_64.cmake ;;
  *) echo "usage: tools/build.sh [x86|x64|all] [--dist]" >&2; exit 2 ;;
esac
