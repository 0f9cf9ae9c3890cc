#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, starts the printer the
# tests print to (a CUPS queue that writes PDF files), and runs every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVURIO_BUILD_DIR:-$here/build}

"$here/scripts/install-deps.sh" test
KAVURIO_BUILD_DIR=$build "$here/scripts/build.sh" -DKAVURIO_WERROR=ON -DKAVURIO_TESTS=ON

# Prints the folder the PDF printer writes to.
KAVURIO_CUPS_PDF_DIR=$("$here/scripts/start-cups.sh")
export KAVURIO_CUPS_PDF_DIR

ctest --test-dir "$build" --output-on-failure -j2
