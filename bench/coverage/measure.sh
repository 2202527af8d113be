#!/usr/bin/env bash
# Measures how much of real programs Tolvek shows as code and as data:
# compiles the C programs here with cc65 for the C64, disassembles them and
# scores the listings against the linker maps; then assembles the ACME
# programs in acme/ and scores them against ACME's report.
# Usage: bench/coverage/measure.sh [path/to/Tolvek.exe]   (needs cc65, acme, python3)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tolvek="$(realpath "${1:-$here/../../build/Tolvek.exe}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$here"/*.c .
for source in *.c; do
    name="$(basename "$source" .c)"
    cl65 -t c64 -O -m "$name.map" -o "$name.prg" "$source"
done
python3 "$here/score.py" "$tolvek" "$work"/*.prg
echo
echo "ACME programs (acme/*.a):"
python3 "$here/score_asm.py" "$tolvek" "$here"/acme/*.a
