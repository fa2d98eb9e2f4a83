#!/usr/bin/env bash
# Runs one Windows test program under Wine in the tests' private prefix.
# usage: wine-run.sh LOADER PREFIX PROGRAM [ARGS...]
set -euo pipefail
loader=$1 prefix=$2
shift 2
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec "$loader" "$@"
