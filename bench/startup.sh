#!/usr/bin/env bash
# Times the start of kavurio on a folder of 2000 titles against a bare Qt window with the
# same fonts (bench/bare_window.cpp): from exec to the window mapped, under Xvfb, in
# alternating runs. Prints both medians, their spread and the ratio.
# Usage: bench/startup.sh [runs]   (default 21)
#   KAVURIO_BUILD_DIR  the build folder (default build/)
#   STARTUP_DISPLAY    the X display to start Xvfb on (default :26)
#   STARTUP_SCRATCH    where the title folder goes (default a new temporary folder)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVURIO_BUILD_DIR:-$here/build}
runs=${1:-21}
display=${STARTUP_DISPLAY:-:26}
scratch=${STARTUP_SCRATCH:-$(mktemp -d)}
for tool in "$build/app/kavurio" "$build/bench/bare_window" "$build/bench/startup_watch"; do
    [[ -x $tool ]] || { echo "startup.sh: build $tool first" >&2; exit 2; }
done

folder=$scratch/titles
mkdir -p "$folder"
rm -f "$folder"/*
python3 - "$folder" <<'PY'
import sys, os
folder = sys.argv[1]
flags = lambda s: b"".join(b",".join(b"1" if 10 * k + j + 1 in s else b"0" for j in range(10)) + b"\r\n" for k in range(5))
with open(os.path.join(folder, "データ.TXT"), "wb") as out:
    for i in range(1, 2001):
        name = "コミック第%d集" % i
        out.write(('"%s",50,0\r\n' % name).encode("cp932"))
        with open(os.path.join(folder, name + ".TXT"), "wb") as f:
            f.write(flags({i % 50 + 1, 7, 33}))
PY

Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    xwininfo -root -display "$display" >/dev/null 2>&1 && break
    sleep 0.05
done

export DISPLAY=$display XDG_RUNTIME_DIR=$scratch/xdg
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
ours() { (cd "$folder" && "$build/bench/startup_watch" "$build/app/kavurio"); }
bare() { (cd "$folder" && "$build/bench/startup_watch" "$build/bench/bare_window"); }

ours >/dev/null; bare >/dev/null # the first start of each fills the caches
: >"$scratch/ours.ms"
: >"$scratch/bare.ms"
for i in $(seq "$runs"); do
    if ((i % 2)); then
        ours >>"$scratch/ours.ms"; bare >>"$scratch/bare.ms"
    else
        bare >>"$scratch/bare.ms"; ours >>"$scratch/ours.ms"
    fi
done

# Median and half the interquartile range (in percent of the median) of a file of figures.
stats() {
    sort -n "$1" | awk '{ v[NR] = $1 } END {
        n = NR
        m = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        lo = v[int((n - 1) * 0.25) + 1]; hi = v[int((n - 1) * 0.75) + 1]
        printf "%.1f %.1f", m, (m > 0 ? 50 * (hi - lo) / m : 0) }'
}
read -r om os <<<"$(stats "$scratch/ours.ms")"
read -r bm bs <<<"$(stats "$scratch/bare.ms")"
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'); load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "exec to window mapped under Xvfb, median of $runs alternating runs (± half the interquartile range)"
printf '  %-34s %8.1f ms ±%4.1f%%\n' "kavurio, 2000 titles" "$om" "$os"
printf '  %-34s %8.1f ms ±%4.1f%%\n' "bare Qt window, same fonts" "$bm" "$bs"
awk -v o="$om" -v b="$bm" 'BEGIN { printf "  ratio %.2f\n", o / b }'
