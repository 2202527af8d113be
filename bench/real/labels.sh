#!/usr/bin/env bash
# Counts the constants Tolvek writes as labels and the addresses it leaves
# as numbers in real programs by other people, against their sources.
# Usage: bench/real/labels.sh [-v] CORPUS_DIR path/to/Tolvek.exe [LISTINGS_DIR]
#   CORPUS_DIR is measure.sh's folder, with NAME.sym for each 64tass or ACME
#   program (see bench/real/README.md). Tolvek runs as in measure.sh, with
#   TOLVEK_OPTIONS; its listings are kept in LISTINGS_DIR when given.
#   -v lists every label not to the program and every address left a number.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
verbose=()
if [ "${1:-}" = "-v" ]; then
    verbose=(-v)
    shift
fi
if [ $# -lt 2 ] || [ ! -d "$1" ]; then
    echo "usage: $0 [-v] CORPUS_DIR path/to/Tolvek.exe [LISTINGS_DIR]" >&2
    exit 2
fi
corpus="$1"
tolvek="$(realpath "$2")"
if [ $# -ge 3 ]; then
    listings="$3"
    mkdir -p "$listings"
else
    listings="$(mktemp -d)"
    trap 'rm -rf "$listings"' EXIT
fi
shopt -s nullglob
infos=("$corpus"/*.info)
if [ ${#infos[@]} -eq 0 ]; then
    echo "$0: no NAME.info in $corpus" >&2
    exit 2
fi
python3 - "$here" "$tolvek" "$listings" "${TOLVEK_OPTIONS:-}" "${infos[@]}" <<'PY'
import shlex, sys
here, tolvek, listings, options, infos = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
sys.path.insert(0, here)
import score_real
for path in infos:
    score_real.disassemble(tolvek, score_real.read_info(path), listings, shlex.split(options))
PY
python3 "$here/score_labels.py" "${verbose[@]}" "$corpus" "$listings"
if [ -n "${TOLVEK_OPTIONS:-}" ]; then
    echo "Tolvek options: $TOLVEK_OPTIONS"
fi
