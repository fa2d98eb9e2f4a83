#!/usr/bin/env bash
# Creates the tests' private Wine prefix (init) or stops its wineserver (stop).
# usage: wine-prefix.sh init|stop PREFIX
set -euo pipefail
action=$1 prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
case "$action" in
  init)
    if [ ! -f "$prefix/system.reg" ]; then
      mkdir -p "$prefix"
      /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      [ -f "$prefix/system.reg" ] || { echo "wine-prefix: could not create $prefix" >&2; exit 1; }
    fi
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *) echo "usage: wine-prefix.sh init|stop PREFIX" >&2; exit 2 ;;
esac
