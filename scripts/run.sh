#!/usr/bin/env bash
# Installs what is missing, builds the program, and starts it in ~/カヴリオ (made
# when missing), the folder the menu entry uses too: the collection's files never
# land in the checkout, where "git clean -x" would delete them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVURIO_BUILD_DIR:-$here/build}
"$here/scripts/install-deps.sh" run
KAVURIO_BUILD_DIR=$build "$here/scripts/build.sh" -DKAVURIO_TESTS=OFF
: "${HOME:?HOME is not set}"
folder="$HOME/カヴリオ"
mkdir -p "$folder"
echo "kavurio: data folder $folder"
exec "$build/app/kavurio" -- "$folder"
