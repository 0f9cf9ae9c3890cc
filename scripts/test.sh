#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, starts the printer the
# tests print to (a CUPS queue that writes PDF files), and runs every test: once in
# the normal build, followed by the Debian package's checks, once built with the
# address and undefined-behaviour sanitizers, then each fuzz target for
# FUZZ_SECONDS (60). KAVURIO_QUICK=1 stops after the package's checks.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVURIO_BUILD_DIR:-$here/build}

"$here/scripts/install-deps.sh" test

# One style for every source file.
(cd "$here" && find app platform storage resources tests fuzz bench \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run -Werror)
KAVURIO_BUILD_DIR=$build "$here/scripts/build.sh" -DKAVURIO_WERROR=ON -DKAVURIO_TESTS=ON

# Prints the folder the PDF printer writes to. The tests name their queue: the
# machine's default printer, if any, is left alone.
KAVURIO_CUPS_PDF_DIR=$("$here/scripts/start-cups.sh")
PRINTER=kavurio-pdf
export KAVURIO_CUPS_PDF_DIR PRINTER

ctest --test-dir "$build" --output-on-failure -j2

# The Debian package: lintian, desktop-file-validate, appstreamcli.
KAVURIO_BUILD_DIR=$build "$here/scripts/check-package.sh"
[ "${KAVURIO_QUICK:-0}" = 1 ] && exit 0

# Any report of either sanitizer ends the test that made it with an error, leaks included.
echo "test: the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
KAVURIO_BUILD_DIR=$build-sanitize "$here/scripts/build.sh" -DKAVURIO_WERROR=ON -DKAVURIO_TESTS=ON \
    -DKAVURIO_SANITIZE=ON
ctest --test-dir "$build-sanitize" --output-on-failure -j2

KAVURIO_FUZZ_BUILD_DIR=$build-fuzz "$here/scripts/fuzz.sh"
