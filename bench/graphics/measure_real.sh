#!/usr/bin/env bash
# Scores the graphics Tolvek finds in real programs against the files their
# sources keep them in (score_graphics.py).
# Usage: bench/graphics/measure_real.sh PROGRAMS_DIR [path/to/Tolvek.exe]
#   PROGRAMS_DIR holds NAME.prg and NAME.lst (its 64tass listing, -L) for
#   each program; Tolvek's options come from TOLVEK_OPTIONS, e.g. without
#   the run: TOLVEK_OPTIONS="--run-cycles 0".
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 PROGRAMS_DIR [path/to/Tolvek.exe]" >&2
    exit 2
fi
tolvek="$(realpath "${2:-$here/../../build/Tolvek.exe}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
shopt -s nullglob
for prg in "$1"/*.prg; do
    name="$(basename "$prg" .prg)"
    listing="$1/$name.lst"
    [ -f "$listing" ] || continue
    cp "$prg" "$work/$name.prg"
    # From the load address: the BASIC program's SYS is where it runs from.
    load=$(( $(od -An -tu2 -N2 "$prg") ))
    # shellcheck disable=SC2086
    (cd "$work" && "$tolvek" -w -c6502 -e"$load" -p "$name.prg" --write-hints "$name.found" ${TOLVEK_OPTIONS:-})
    echo "$name: $(python3 "$here/score_graphics.py" "$listing" "$work/$name.found")"
done
