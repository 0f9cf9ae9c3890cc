#!/usr/bin/env bash
# Sets up the two CUPS queues the tests print to and prints the folder the PDF
# files go to (nothing else on stdout):
#   kavurio-pdf     writes every job as a PDF file into that folder;
#   kavurio-reject  refuses every job (cupsreject);
#   kavurio-stopped takes jobs but is stopped (cupsdisable): they wait in its queue.
# Nothing else of the machine's printing changes: each queue has its own cups-pdf
# configuration file (cups-pdf-<queue>.conf, read for the device cups-pdf:/<queue>),
# no default printer is set, and the tests name their queue (PRINTER=kavurio-pdf).
# Safe to run again: only what is missing is installed, started or made.
# Works without systemd (containers): cupsd is then started directly.
set -euo pipefail

queue=kavurio-pdf
reject_queue=kavurio-reject
stopped_queue=kavurio-stopped
out_dir=/var/spool/cups-pdf/kavurio
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
gs_wrapper=/usr/local/lib/kavurio/cups-pdf-gs

log() { echo "start-cups: $*" >&2; }

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
as_root() { "${sudo[@]}" "$@"; }

packages=(cups cups-client printer-driver-cups-pdf poppler-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    as_root apt-get update -qq >&2
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

# Writes a root-owned file only when its text differs.
put_file() {
    local path=$1 mode=$2 text=$3
    if [ "$(cat "$path" 2>/dev/null)" != "$text" ]; then
        as_root mkdir -p "$(dirname "$path")"
        printf '%s\n' "$text" | as_root tee "$path.new" >/dev/null
        as_root chmod "$mode" "$path.new"
        as_root mv -f "$path.new" "$path"
    fi
}

# cups-pdf takes PostScript only. Of the PDF-to-PostScript renderers here, only
# pdftocairo keeps the glyph names that let Japanese text be found in the PDF
# again (gs turns CID TrueType fonts into nameless Type 3 fonts), but it gives
# every subset of a font the same FontName, and gs's pdfwrite then mixes up
# glyphs of different subsets. This wrapper, named only in the test queues'
# configuration, numbers the names before gs runs.
put_file "$gs_wrapper" 755 "$(
    cat <<'EOF'
#!/bin/sh
# Ghostscript for cups-pdf: give each font definition of the job its own name.
for input; do :; done
if [ -f "$input" ]; then
    tmp=$(mktemp "${TMPDIR:-/var/tmp}/kavurio-ps.XXXXXX") || exit 1
    perl -pe 's{^/FontName /(\S+) def}{"/FontName /$1-" . ++$n . " def"}e' "$input" >"$tmp" &&
        cat "$tmp" >"$input"
    rm -f "$tmp"
fi
exec /usr/bin/gs "$@"
EOF
)"

# One fixed folder for every user, root and anonymous jobs alike. Jobs with the
# same title would overwrite each other's file, so each file carries its job id.
for q in "$queue" "$reject_queue" "$stopped_queue"; do
    put_file "/etc/cups/cups-pdf-$q.conf" 644 "$(
        cat <<EOF
# cups-pdf settings of the test queue $q only (scripts/start-cups.sh).
Out $out_dir
AnonDirName $out_dir
Label 1
UserUMask 0022
Grp lpadmin
DecodeHexStrings 1
GhostScript $gs_wrapper
EOF
    )"
done
# cups-pdf writes as the submitting user, so the folder is shared like /tmp.
as_root mkdir -p "$out_dir"
as_root chmod 1777 "$out_dir"

running() { lpstat -r 2>/dev/null | grep -q 'is running'; }

if ! running; then
    if [ -d /run/systemd/system ] && command -v systemctl >/dev/null; then
        log "starting cups with systemctl"
        as_root systemctl start cups >&2
    else
        log "starting /usr/sbin/cupsd"
        as_root mkdir -p /run/cups
        as_root /usr/sbin/cupsd >&2
    fi
    for _ in $(seq 1 100); do
        running && break
        sleep 0.1
    done
    if ! running; then
        log "cupsd does not answer"
        exit 1
    fi
fi

for q in "$queue" "$reject_queue" "$stopped_queue"; do
    if ! lpstat -v "$q" 2>/dev/null | grep -q "cups-pdf:/$q\$"; then
        log "creating queue $q"
        # -P takes the PPD file itself, so this works before lpinfo knows the driver.
        if ! out=$(as_root lpadmin -p "$q" -E -v "cups-pdf:/$q" -P "$ppd" 2>&1); then
            log "$out"
            exit 1
        fi
        as_root lpadmin -p "$q" -o pdftops-renderer-default=pdftocairo
    fi
done
as_root cupsenable "$queue"
as_root cupsaccept "$queue"
as_root cupsenable "$reject_queue"
as_root cupsreject -r "kavurio test queue: refuses every job" "$reject_queue"
as_root cupsaccept "$stopped_queue"
as_root cupsdisable -r "kavurio test queue: stopped" "$stopped_queue"

if ! lpstat -a "$queue" | grep -q 'accepting requests'; then
    log "$queue does not accept jobs"
    exit 1
fi
if ! lpstat -a "$reject_queue" | grep -q 'not accepting'; then
    log "$reject_queue still accepts jobs"
    exit 1
fi

echo "$out_dir"
