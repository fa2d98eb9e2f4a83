#!/usr/bin/env bash
# Configures and builds. usage: build.sh dll|product|x64|native|all
#   dll      only the 32-bit DLL, build/Dorvanel.DLL
#   product  the 32-bit DLL and its tests in build/
#   x64      the same sources for 64-bit Windows in build/x64
#   native   the pure logic and its tests for this Linux machine, with
#            sanitizers, in build/native
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

target=${target:-all}
configure_and_build() {  # dir source [cmake args...]
  local dir=$1 source=$2
  shift 2
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake --no-warn-unused-cli -S "$source" -B "$dir" -DDORVANEL_WINEPREFIX="$root/build/wineprefix" "$@" >/dev/null
  elif [ "$target" != all ]; then
    # A named target may be newer than the build folder's makefiles.
    cmake "$dir" >/dev/null
  fi
  cmake --build "$dir" -j "$jobs" --target "$target" -- --no-print-directory
}

for what in "${@:-product}"; do
  case "$what" in
    dll) target=Dorvanel "$0" product; exit ;;
    product) configure_and_build "$root/build" "$root" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" ;;
    x64) configure_and_build "$root/build/x64" "$root" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake" ;;
    native) configure_and_build "$root/build/native" "$root/native" ;;
    all) "$0" product x64 native ;;
    *) echo "build.sh: unknown target $what" >&2; exit 2 ;;
  esac
done
