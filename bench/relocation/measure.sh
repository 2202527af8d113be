#!/usr/bin/env bash
# Measures how well a disassembly moves to another address: builds each
# program at $0801 (A) and at $1001 (B), disassembles A with prgdis, sets the
# source's origin to $1001, reassembles it with acme and scores the result
# against B (bench/relocation/score.py).
# Programs: the C programs bench/coverage/*.c, bench/programs/typical.c and
# bench/relocation/c/*.c (cl65 -t c64 -O, and --start-addr 0x1001) and the
# ACME programs bench/relocation/programs/*.a (acme -f cbm -DORIGIN=2049,
# and 4097).
# Usage: bench/relocation/measure.sh [path/to/build dir or Tolvek.exe]
#        (needs cc65, acme, python3; prgdis and Tolvek.exe in that folder)
# KEEP=1 keeps the scratch folder (one folder per program: a.prg, b.prg,
# game.asm, game.lst, moved.prg) and names it on standard error.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${1:-$here/../../build}"
[[ -f "$bin" ]] && bin="$(dirname "$bin")"
bin="$(realpath "$bin")"
for tool in "$bin/prgdis" "$bin/Tolvek.exe"; do
    [[ -x "$tool" ]] || { echo "measure.sh: $tool not found (build first, or name the build folder)" >&2; exit 1; }
done
for tool in cl65 acme python3; do
    command -v "$tool" >/dev/null || { echo "measure.sh: $tool is not installed" >&2; exit 1; }
done
work="$(mktemp -d)"
if [[ -n "${KEEP:-}" ]]; then
    echo "measure.sh: keeping $work" >&2
else
    trap 'rm -rf "$work"' EXIT
fi

# Builds A and B of each program in a folder of its own, named after the source.
sources=("$here"/../coverage/*.c "$here"/../programs/typical.c "$here"/c/*.c "$here"/programs/*.a)
folders=()
for source in "${sources[@]}"; do
    folder="$work/$(basename "$source")"
    mkdir "$folder"
    cp "$source" "$folder/"
    (
        cd "$folder"
        case "$source" in
        *.c)
            # cl65 leaves its object file beside the source, hence the copy.
            cl65 -t c64 -O -o a.prg "$(basename "$source")"
            cl65 -t c64 -O --start-addr 0x1001 -o b.prg "$(basename "$source")" ;;
        *.a)
            acme -f cbm -DORIGIN=2049 -o a.prg "$(basename "$source")"
            acme -f cbm -DORIGIN=4097 -o b.prg "$(basename "$source")" ;;
        esac
    ) || { echo "measure.sh: could not build $source at both addresses" >&2; exit 1; }
    folders+=("$folder")
done

# Disassembles A as a user would, moves the source and reassembles it.
for folder in "${folders[@]}"; do
    (
        cd "$folder"
        cp a.prg game.prg
        if ! PATH="$bin:$PATH" prgdis game.prg >prgdis.log 2>&1; then
            echo "prgdis failed" >status
        elif ! grep -q $'^\t\\* = \\$0801$' game.asm; then
            echo "no origin line in game.asm" >status
        else
            sed -i $'0,/^\t\\* = \\$0801$/s//\t* = $1001/' game.asm
            acme -f cbm -o moved.prg game.asm >acme.log 2>&1 || echo "reassembly failed" >status
        fi
    )
done

python3 "$here/score.py" "${folders[@]}"
