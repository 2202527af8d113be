#!/usr/bin/env bash
# Measures how much of real programs Tolvek shows as code and as data:
# compiles the C programs here with cc65 for the C64, disassembles them and
# scores the listings against the linker maps; then assembles the ACME
# programs in acme/ and scores them against ACME's report.
# Usage: bench/coverage/measure.sh [path/to/Tolvek.exe [tolvek-option...]]
#   (needs cc65, acme, python3). Tolvek's options come from TOLVEK_OPTIONS
#   and then from the arguments after the path, e.g. without the run:
#   TOLVEK_OPTIONS="--run-cycles 0" bench/coverage/measure.sh
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tolvek="$(realpath "${1:-$here/../../build/Tolvek.exe}")"
options="${TOLVEK_OPTIONS:-}"
if [ $# -gt 1 ]; then
    shift
    for option in "$@"; do options+=" $(printf '%q' "$option")"; done
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$here"/*.c .
for source in *.c; do
    name="$(basename "$source" .c)"
    cl65 -t c64 -O -m "$name.map" -o "$name.prg" "$source"
done
python3 "$here/score.py" --options="$options" "$tolvek" "$work"/*.prg
echo
echo "ACME programs (acme/*.a):"
python3 "$here/score_asm.py" --options="$options" "$tolvek" "$here"/acme/*.a
