#!/usr/bin/env bash
# Measures how much of real programs by other people Tolvek shows the right
# way round, scored against the listings their assemblers wrote.
# Usage: bench/real/measure.sh [-v] PROGRAMS_DIR [path/to/Tolvek.exe]
#   PROGRAMS_DIR holds NAME.info, NAME.prg and the listing for each program
#   (see bench/real/README.md); -v lists the stretches shown wrongly.
#   Tolvek's options come from TOLVEK_OPTIONS, e.g. without the run:
#   TOLVEK_OPTIONS="--run-cycles 0" bench/real/measure.sh /tmp/realbench/programs
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
verbose=()
if [ "${1:-}" = "-v" ]; then
    verbose=(-v)
    shift
fi
if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 [-v] PROGRAMS_DIR [path/to/Tolvek.exe]" >&2
    exit 2
fi
programs="$1"
tolvek="$(realpath "${2:-$here/../../build/Tolvek.exe}")"
shopt -s nullglob
infos=("$programs"/*.info)
if [ ${#infos[@]} -eq 0 ]; then
    echo "$0: no NAME.info in $programs" >&2
    exit 2
fi
python3 "$here/score_real.py" "${verbose[@]}" --options="${TOLVEK_OPTIONS:-}" "$tolvek" "${infos[@]}"
