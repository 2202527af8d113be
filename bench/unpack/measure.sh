#!/usr/bin/env bash
# Packed programs as a user meets them: packs C programs (cc65) and
# hand-written ones (ACME) with each of the tests' packers, then does what
# the user does: prgdis on the packed file, and the command its header
# names (Tolvek.exe ... --unpack). Reports per packer and program whether
# game.unpacked.prg is the original byte for byte, where the run found the
# hand-over, how many cycles the run took, the time prgdis took on the
# packed file, and the code bytes Tolvek finds in the unpacked program and
# in the original.
# Usage: bench/unpack/measure.sh [build-dir]   (default: build; needs
#   prgdis, Tolvek.exe and tolvek_test_pack built there (PACK=path: the
#   packer from elsewhere, to measure an older build), and
#   cc65, acme, python3)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(realpath "${1:-$here/../../build}")"
pack="${PACK:-$build/tolvek_test_pack}"
for tool in "$build/prgdis" "$build/Tolvek.exe" "$pack"; do
    [ -x "$tool" ] || { echo "missing $tool: build it first" >&2; exit 1; }
done
export PATH="$build:$PATH"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The originals: name and the entry the packed program jumps to.
originals=()
for name in adventure calc sieve; do
    cp "$here/../coverage/$name.c" "$work/"
    (cd "$work" && cl65 -t c64 -O -o "$name.prg" "$name.c" && rm -f "$name.o")
    originals+=("$name 2061")
done
for name in game raster_chain; do
    acme -f cbm -o "$work/$name.prg" "$here/../coverage/acme/$name.a"
    originals+=("$name 2061")
done
# Built at $1001: no BASIC program at $0801, and the SYS token and digits
# of their own line end up in the packed data.
for name in hiscore states; do
    acme -f cbm -DORIGIN=4097 -o "$work/$name.prg" -l "$work/$name.sym" "$here/../relocation/programs/$name.a"
    start=$(sed -n 's/^[[:space:]]*start[[:space:]]*=[[:space:]]*\$\([0-9a-f]*\).*/\1/p' "$work/$name.sym" | head -n1)
    originals+=("$name \$$start")
done

packed_with() {  # packer original entry out.prg
    local packer="$1" original="$2" entry="$3" out="$4"
    if [ "$packer" = two-stage ]; then
        "$pack" slow-bits "$entry" "$original" > "$out.inner.a"
        acme -f cbm -o "$out.inner.prg" "$out.inner.a"
        "$pack" tables-below 2061 "$out.inner.prg" > "$out.a"
    else
        "$pack" "$packer" "$entry" "$original" > "$out.a"
    fi
    acme -f cbm -o "$out" "$out.a"
}

code_bytes() {  # the .asm's header: "code: N bytes"
    [ -f "$1" ] || { echo -; return; }
    sed -n 's/^; code: \([0-9]*\) bytes.*/\1/p' "$1" | head -n1
}

printf '%-13s %-13s %-9s %-11s %10s %8s %12s\n' program packer identical hand-over cycles "time" "code orig/unp"
for entry_line in "${originals[@]}"; do
    read -r name entry <<< "$entry_line"
    (cd "$work" && mkdir -p "orig-$name" && cp "$name.prg" "orig-$name/" && cd "orig-$name" && prgdis "$name.prg" > /dev/null)
    original_code=$(code_bytes "$work/orig-$name/$name.asm")
    for packer in plain tables-below slow-bits two-stage; do
        dir="$work/$name-$packer"
        mkdir -p "$dir"
        packed_with "$packer" "$work/$name.prg" "$entry" "$dir/game.prg"
        start=$(date +%s.%N)
        (cd "$dir" && prgdis game.prg > prgdis.out 2>&1) || { echo "$name $packer: prgdis failed" >&2; continue; }
        seconds=$(echo "$(date +%s.%N) - $start" | bc)
        handover=$(sed -n 's/^; ran bytes it wrote itself at \([^ ]*\) from \(\$[0-9a-f]*\).*/\1@\2/p' "$dir/game.asm" | head -n1)
        cycles=$(sed -n 's/^; run from [^:]*: .* after \([0-9]*\) cycles$/\1/p' "$dir/game.asm" | head -n1)
        command=$(sed -n 's/^; \(Tolvek\.exe .* --unpack\) writes them.*/\1/p' "$dir/game.asm" | head -n1)
        if [ -z "$command" ] && grep -q '^; Tolvek.exe --unpack writes' "$dir/game.asm"; then
            # Builds before the header named the whole command: the image by hand.
            tail -c +3 "$dir/game.prg" > "$dir/game.tmp"
            command="Tolvek.exe -a -c6502 -o2049 -e2061 -t game.tmp --unpack"
        fi
        identical=no
        unpacked_code=-
        if [ -n "$command" ] && (cd "$dir" && eval "$command" > /dev/null 2>&1); then
            cmp -s "$dir/game.unpacked.prg" "$work/$name.prg" && identical=yes
            unpacked_code=$(code_bytes "$dir/game.unpacked.asm")
        fi
        printf '%-13s %-13s %-9s %-11s %10s %8.2f %12s\n' "$name" "$packer" "$identical" "${handover:--}" "${cycles:--}" \
            "$seconds" "$original_code/$unpacked_code"
    done
done
