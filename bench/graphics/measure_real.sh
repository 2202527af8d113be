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
    # Where prgdis would start it: the number after the first SYS token,
    # else the load address.
    entry=$(python3 -c 'import re,sys; d=open(sys.argv[1],"rb").read(300); m=re.search(rb"\x9e *([0-9]+)", d[2:]); print(m.group(1).decode() if m else d[0] | d[1] << 8)' "$prg")
    # shellcheck disable=SC2086
    (cd "$work" && "$tolvek" -w -c6502 -e"$entry" -p "$name.prg" --write-hints "$name.found" ${TOLVEK_OPTIONS:-})
    echo "$name: $(python3 "$here/score_graphics.py" "$listing" "$work/$name.found")"
done
