#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, once.
# Prints nothing and returns at once when everything is already there.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix mingw-w64-i686-dev       # the product: 32-bit DLL
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev   # the 64-bit build and test suite
  g++ cmake make googletest                         # native pure-logic tests, GoogleTest sources
  wine wine64 wine32:i386 xvfb xauth                # running the tests
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "bootstrap: installing ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
