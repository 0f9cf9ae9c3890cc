#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program in the current folder,
# where it keeps its data files.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh" run
"$here/scripts/build.sh"
exec "${KAVURIO_BUILD_DIR:-$here/build}/app/kavurio"
