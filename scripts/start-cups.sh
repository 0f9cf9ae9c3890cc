#!/usr/bin/env bash
# Makes a CUPS queue "kavurio-pdf" that writes every job as a PDF file, sets it as
# the default printer and prints the folder the PDF files go to (nothing else on
# stdout). Safe to run again: only what is missing is installed, started or set.
# Works without systemd (containers): cupsd is then started directly.
set -euo pipefail

queue=kavurio-pdf
out_dir=/var/spool/cups-pdf/kavurio
conf=/etc/cups/cups-pdf.conf
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

# Set "Key value" in cups-pdf.conf, replacing an active or commented-out line.
set_conf() {
    local key=$1 value=$2
    if grep -qx "$key $value" "$conf"; then
        return
    fi
    if grep -qE "^#?$key( |\$)" "$conf"; then
        as_root sed -i -E "0,/^#?$key( .*)?\$/s||$key $value|" "$conf"
    else
        echo "$key $value" | as_root tee -a "$conf" >/dev/null
    fi
}

# cups-pdf takes PostScript only. Of the PDF-to-PostScript renderers here, only
# pdftocairo keeps the glyph names that let Japanese text be found in the PDF
# again (gs turns CID TrueType fonts into nameless Type 3 fonts), but it gives
# every subset of a font the same FontName, and gs's pdfwrite then mixes up
# glyphs of different subsets. This wrapper numbers the names before gs runs.
wrapper_text=$(
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
)
if [ "$(cat "$gs_wrapper" 2>/dev/null)" != "$wrapper_text" ]; then
    as_root mkdir -p "$(dirname "$gs_wrapper")"
    printf '%s\n' "$wrapper_text" | as_root tee "$gs_wrapper" >/dev/null
    as_root chmod 755 "$gs_wrapper"
fi

# One fixed folder for every user, root and anonymous jobs alike. Jobs with the
# same title would overwrite each other's file, so each file carries its job id.
set_conf Out "$out_dir"
set_conf AnonDirName "$out_dir"
set_conf Label 1
set_conf UserUMask 0022
set_conf GhostScript "$gs_wrapper"
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

if ! lpstat -v "$queue" 2>/dev/null | grep -q 'cups-pdf:/'; then
    log "creating queue $queue"
    # -P takes the PPD file itself, so this works before lpinfo knows the driver.
    if ! out=$(as_root lpadmin -p "$queue" -E -v cups-pdf:/ -P "$ppd" 2>&1); then
        log "$out"
        exit 1
    fi
fi
as_root lpadmin -p "$queue" -o pdftops-renderer-default=pdftocairo
as_root cupsenable "$queue"
as_root cupsaccept "$queue"
as_root lpadmin -d "$queue"
# A per-user or system-wide lpoptions default would win over the server's default.
lpoptions -d "$queue" >/dev/null

if ! lpstat -d | grep -q "$queue"; then
    log "could not make $queue the default printer"
    exit 1
fi

echo "$out_dir"
