#!/usr/bin/env bash
# Builds the Debian package from a configured build folder (build/ or
# $KAVURIO_BUILD_DIR) and checks it as Debian and the desktops would: lintian,
# desktop-file-validate, appstreamcli validate; then the same menu entry from a
# per-user install (--prefix), whose launcher must be named by its full path.
# Any complaint fails the run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVURIO_BUILD_DIR:-$here/build}
work=$(mktemp -d "${TMPDIR:-/tmp}/kavurio-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
    echo "package: $*" >&2
    exit 1
}

# Everything the package installs (program, help file, man pages).
cmake --build "$build"
rm -f "$build"/kavurio_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    fail "cpack failed"
}
deb=$(ls "$build"/kavurio_*.deb)
echo "package: $(basename "$deb")"

# Warnings fail too. The one tag let through is for packages that go into Debian
# itself (a first upload closes its "intent to package" bug); see the README.
status=0
lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs "$deb" >"$work/lintian.log" 2>&1 ||
    status=$?
grep -v '^running with root privileges' "$work/lintian.log" | sed 's/^/lintian: /' || true
[ "$status" -eq 0 ] || fail "lintian found errors or warnings"
echo "package: lintian: no errors, no warnings"

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop=$root/usr/share/applications/kavurio.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the menu entry"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ "$exec_line" = /usr/libexec/kavurio/kavurio-launch ] || fail "unexpected Exec line: $exec_line"
[ -x "$root$exec_line" ] || fail "the menu entry's launcher is not in the package"
echo "package: desktop-file-validate: ok (Exec=$exec_line)"
appstreamcli validate --no-net --pedantic "$root"/usr/share/metainfo/*.metainfo.xml ||
    fail "appstreamcli rejects the metainfo"

# A per-user install: the entry names the launcher under that prefix, which runs
# the program installed beside it.
prefix="$work/home dir/.local"
cmake --install "$build" --prefix "$prefix" >/dev/null
desktop-file-validate "$prefix/share/applications/kavurio.desktop" ||
    fail "desktop-file-validate rejects the per-user menu entry"
launcher=$(sed -n 's/^Exec=//p' "$prefix/share/applications/kavurio.desktop")
expected="\"$prefix/libexec/kavurio/kavurio-launch\""
[ "$launcher" = "$expected" ] || fail "per-user Exec is $launcher, expected $expected"
[ -x "$prefix/bin/kavurio" ] || fail "per-user install has no program"
echo "package: per-user install: Exec=$launcher"

# The launcher itself: it makes ~/カヴリオ and names it to the program (started elsewhere), which
# creates its (empty) title list in that folder.
home="$work/home dir"
mkdir -p "$home"
HOME=$home QT_QPA_PLATFORM=offscreen "$prefix/libexec/kavurio/kavurio-launch" >"$work/launch.log" 2>&1 &
pid=$!
started() { compgen -G "$home/カヴリオ/データ.*" >/dev/null; }
for _ in $(seq 1 100); do
    started && break
    sleep 0.1
done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
started || {
    cat "$work/launch.log"
    fail "the launcher did not start the program in ~/カヴリオ"
}
echo "package: the launcher started the program in ~/カヴリオ: $(cd "$home/カヴリオ" && echo データ.*)"
echo "package: all checks passed"
