#!/usr/bin/env bash
# Runs a command inside its own headless weston: "wayland" as a native Wayland
# client, "xwayland" as an X client of weston's Xwayland. Exits 77 (skipped) when
# weston or its parts are missing.
set -euo pipefail
mode=$1
shift
command -v weston >/dev/null || { echo "weston is not installed"; exit 77; }
if [ "$mode" = xwayland ]; then
    command -v Xwayland >/dev/null || { echo "Xwayland is not installed"; exit 77; }
fi

runtime=$(mktemp -d "${TMPDIR:-/tmp}/kavurio-weston.XXXXXX")
chmod 700 "$runtime"
socket="kavurio-$$"
weston_pid=
cleanup() {
    [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null && wait "$weston_pid" 2>/dev/null
    rm -rf "$runtime"
}
trap cleanup EXIT

args=(--backend=headless-backend.so --socket="$socket" --no-config --width=1024 --height=768
      --log="$runtime/weston.log")
[ "$mode" = xwayland ] && args+=(--xwayland)
XDG_RUNTIME_DIR=$runtime weston "${args[@]}" &
weston_pid=$!

for _ in $(seq 100); do
    [ -S "$runtime/$socket" ] && break
    sleep 0.1
done
[ -S "$runtime/$socket" ] || { echo "weston did not start:"; cat "$runtime/weston.log"; exit 1; }

export XDG_RUNTIME_DIR=$runtime
if [ "$mode" = xwayland ]; then
    display=
    for _ in $(seq 100); do
        display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$runtime/weston.log" | head -n1)
        [ -n "$display" ] && break
        sleep 0.1
    done
    [ -n "$display" ] || { echo "Xwayland did not start:"; cat "$runtime/weston.log"; exit 1; }
    export DISPLAY=$display QT_QPA_PLATFORM=xcb
    unset WAYLAND_DISPLAY
else
    export WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland
    unset DISPLAY
fi
status=0
"$@" || status=$?
if ! kill -0 "$weston_pid" 2>/dev/null; then
    echo "weston ended during the test:"
    cat "$runtime/weston.log"
    status=1
fi
exit "$status"
