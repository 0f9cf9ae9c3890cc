#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing. "run" needs the build and the
# desktop packages; "test" adds what the tests drive: Xvfb, CUPS, PDF tools, clang and clang-format,
# and the Debian package checks.
set -euo pipefail

what=${1:-run}
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins qt6-wayland qt6-translations-l10n libgl-dev libchm-dev libcups2-dev
    fonts-ipafont-gothic fonts-liberation
)
if [ "$what" = test ]; then
    packages+=(
        xvfb xauth x11-utils xdotool openbox imagemagick libx11-dev
        cups cups-bsd printer-driver-cups-pdf poppler-utils libchm-bin fp-utils-3.2.2
        clang clang-format libclang-rt-14-dev python3
        file lintian desktop-file-utils appstream qt6-svg-dev
        exfat-fuse exfatprogs fuse3 util-linux
        weston xwayland dbus dbus-daemon at-spi2-core python3-pyatspi
    )
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    # sudo may be there for other users only: then its refusal would be all one sees.
    why=
    if ! command -v sudo >/dev/null; then
        why="sudo is not installed"
    elif ! sudo -n true 2>/dev/null && ! LC_ALL=C sudo -n -v 2>&1 | grep -q 'password is required'; then
        why="you may not use sudo here"
    fi
    if [ -n "$why" ]; then
        echo "These Debian packages are missing: ${missing[*]}" >&2
        echo "Installing them needs root, and $why. As root, run:" >&2
        echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
        echo "(or get the right to use sudo), then run this command again." >&2
        exit 1
    fi
    as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
# sudo drops the environment, so the setting goes through env; the lock timeout
# waits for another apt (an update notifier) instead of failing.
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${missing[@]}"
