#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing. "run" needs the build and the
# desktop packages; "test" adds what the tests drive: Xvfb, CUPS, PDF tools, clang and clang-format.
set -euo pipefail

what=${1:-run}
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins libgl-dev libchm-dev fp-utils-3.2.2
    fonts-ipafont-gothic fonts-liberation
)
if [ "$what" = test ]; then
    packages+=(
        xvfb xauth x11-utils xdotool openbox imagemagick libx11-dev
        cups cups-bsd printer-driver-cups-pdf poppler-utils libchm-bin
        clang clang-format libclang-rt-14-dev python3
        weston qt6-wayland xwayland dbus at-spi2-core python3-pyatspi qt6-translations-l10n
    )
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
