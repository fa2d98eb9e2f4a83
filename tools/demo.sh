#!/usr/bin/env bash
# The main job: shows Dorvanel at work. Builds the DLL and our shell host,
# installs and registers the DLL with the real regsvr32 in a private Wine
# prefix (build/demo-prefix, never your own), builds the context menus of a
# folder, a drive and a folder background in English and Russian as Explorer
# would, opens a command prompt from the menu, then unregisters the DLL.
# Everything it starts is stopped at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)

export WINEPREFIX=$root/build/demo-prefix
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
trap 'wineserver -k 2>/dev/null || true' EXIT

if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; else bold= plain=; fi
say() { printf '\n%s== %s%s\n' "$bold" "$*" "$plain"; }
show() {  # prints a command line, with blanks in arguments quoted
  local line=$1 arg
  shift
  for arg in "$@"; do
    case "$arg" in *' '*) line+=" \"$arg\"" ;; *) line+=" $arg" ;; esac
  done
  printf '$ %s\n' "$line"
}

# The product is the 32-bit DLL; where Wine cannot run 32-bit programs here,
# the same sources built for 64-bit Windows show the same behaviour.
if "$root/tools/wine32-available.sh"; then
  bits=32 build=product dir=$root/build loader=/usr/lib/wine/wine
  install='C:\Program Files (x86)\Dorvanel' unix_install="$WINEPREFIX/drive_c/Program Files (x86)/Dorvanel"
  why="the 32-bit product, driven by a 32-bit host"
else
  bits=64 build=x64 dir=$root/build/x64 loader=/usr/lib/wine/wine64
  install='C:\Program Files\Dorvanel' unix_install="$WINEPREFIX/drive_c/Program Files/Dorvanel"
  why="the 64-bit build of the same sources: this machine cannot run 32-bit Windows programs under Wine (docs/wine.md)"
fi

say "Dorvanel demo: $why"

say "Building Dorvanel.DLL and the shell host (shellhost.exe)"
log=$root/build/demo-build.log
mkdir -p "$root/build"
if ! target=shellhost "$root/tools/build.sh" "$build" >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
echo "built $(realpath --relative-to="$root" "$dir/Dorvanel.DLL") and $(realpath --relative-to="$root" "$dir/shellhost.exe") ($bits-bit)"

say "A private Windows (Wine prefix): build/demo-prefix"
"$root/tools/wine-prefix.sh" init "$WINEPREFIX"
# A real folder to right-click, with a blank in its name.
folder='C:\Projects\Dorvanel demo'
mkdir -p "$WINEPREFIX/drive_c/Projects/Dorvanel demo"
echo "ready; the folder to right-click is $folder"

host() {  # runs the shell host; prints its command line first
  show shellhost "$@"
  "$loader" "$dir/shellhost.exe" "$@"
}
regsvr32() {
  show regsvr32 "$@"
  local rc=0
  "$loader" regsvr32 /s "$@" || rc=$?
  echo "regsvr32 exit code $rc$([ "$rc" -eq 0 ] && echo ": done")"
  [ "$rc" -eq 0 ] || echo "demo: regsvr32 failed (3: the DLL would not load, 4: no such export, 5: the call failed)" >&2
  return "$rc"
}

say "Installing: copy the DLL to $install and register it with regsvr32"
mkdir -p "$unix_install"
cp "$dir/Dorvanel.DLL" "$unix_install/"
regsvr32 "$install\\Dorvanel.DLL"
show 'reg query "HKCR\CLSID\{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}\InprocServer32"'
"$loader" reg query 'HKCR\CLSID\{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}\InprocServer32' | tr -d '\r' | sed '/^$/d'

say "Right-click on a folder (English)"
host "$folder"
say "Right-click on a drive (English); from here on only what the user sees (--brief)"
host --brief 'C:\'
say "Right-click on the background of a folder window (English)"
host --brief --background "$folder"
say "Shift+right-click on a folder: the item will ask for a subfolder first"
host --brief --shift "$folder"

say "The same in Russian (thread locale 0x0419, ANSI code page 1251)"
host --brief --lang ru "$folder"
host --brief --lang ru 'C:\'
host --brief --lang ru --background "$folder"

say "Choosing the item: the command interpreter (%ComSpec%, here Wine's cmd.exe) opens in the folder"
host --brief --invoke "$folder"

say "Uninstalling: regsvr32 /u, and the menu no longer has the item"
regsvr32 /u "$install\\Dorvanel.DLL"
rc=0
host --brief "$folder" || rc=$?
echo "shellhost exit code $rc (3: no handler registered)"
[ "$rc" -eq 3 ] || { echo "demo: expected no handler after unregistering" >&2; exit 1; }

wineserver -k 2>/dev/null || true
say "Done in $(( $(date +%s) - started )) s; the prefix's processes (the command prompt among them) are stopped"
