#!/usr/bin/env bash
# The main job: shows Dorvanel at work. Not built yet.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh" dll
echo "Dorvanel.DLL is built at build/Dorvanel.DLL; the demonstration is not built yet."
