#!/usr/bin/env bash
# Regenerates the pictures in docs/: the context menu with Dorvanel's item as
# the shell host shows it on screen (docs/menu.png), and the console window
# that choosing the item opens (docs/console.png). Runs under its own Xvfb
# display in the demo's private prefix and installs the picture tools
# (xwd from x11-apps, ImageMagick's convert) if they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${DORVANEL_PICTURES_DISPLAY:-}" ]; then
  "$root/tools/bootstrap.sh"
  missing=()
  for p in x11-apps imagemagick; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "pictures: installing ${missing[*]}" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  # One display for the whole run, so that Wine's desktop keeps it.
  exec env DORVANEL_PICTURES_DISPLAY=1 xvfb-run -a -s "-screen 0 800x500x24 -wr" "$0" "$@"
fi

export WINEPREFIX=$root/build/demo-prefix
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
trap 'wineserver -k 2>/dev/null || true' EXIT

if "$root/tools/wine32-available.sh"; then
  build=product dir=$root/build loader=/usr/lib/wine/wine
else
  build=x64 dir=$root/build/x64 loader=/usr/lib/wine/wine64
fi
target=shellhost "$root/tools/build.sh" "$build" >/dev/null
"$root/tools/wine-prefix.sh" init "$WINEPREFIX"
folder='C:\Projects\Dorvanel demo'
mkdir -p "$WINEPREFIX/drive_c/Projects/Dorvanel demo"
dll=$(/usr/lib/wine/wine64 winepath -w "$dir/Dorvanel.DLL" 2>/dev/null | tr -d '\r')
"$loader" regsvr32 /s "$dll"

snap() {  # file [scale]: what is on the (white) screen, trimmed to it, as a PNG
  xwd -root -silent | convert xwd:- -trim +repage -bordercolor white -border 12 -scale "${2:-100}%" -define png:exclude-chunks=date,time "$1"
  echo "wrote $(realpath --relative-to="$root" "$1")"
}

mkdir -p "$root/docs"
# The menu, opened at 20,20 with its item highlighted; it closes by itself.
"$loader" "$dir/shellhost.exe" --show=8 --at 20,20 "$folder" >/dev/null &
shown=$!
sleep 5
snap "$root/docs/menu.png" 200
wait "$shown" || true

# Choosing the item: the console of %ComSpec% (cmd.exe) opens in the folder.
"$loader" "$dir/shellhost.exe" --invoke "$folder" >/dev/null
sleep 5
snap "$root/docs/console.png"

"$loader" regsvr32 /s /u "$dll"
