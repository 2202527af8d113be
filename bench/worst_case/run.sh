#!/usr/bin/env bash
# Times Tolvek.exe -a and whole prgdis runs on inputs made to be slow
# (make_inputs.py), each the best of a few runs: the goal is at most one
# second for Tolvek.exe -a with default options and two for prgdis, on any
# image up to 64 KiB with any hints file.
# Usage: bench/worst_case/run.sh [build folder] [runs]   (default build/, 3)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(realpath "${1:-$here/../../build}")"
runs="${2:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/make_inputs.py" "$work/inputs"
export PATH="$build:$PATH"

# The best of $runs wall-clock times of a command, in seconds.
best_of() {
    local best=""
    for _ in $(seq "$runs"); do
        local start end took
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s%N)
        took=$(( (end - start) / 1000000 ))
        if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
    done
    printf '%d.%03d' $((best / 1000)) $((best % 1000))
}

printf '%-24s %12s %12s\n' input "Tolvek -a" prgdis
for prg in "$work"/inputs/*.prg; do
    name="$(basename "$prg" .prg)"
    mkdir -p "$work/$name"
    cp "$prg" "$work/$name/"
    [ -f "${prg%.prg}.hints" ] && cp "${prg%.prg}.hints" "$work/$name/"
    cd "$work/$name"
    # The entry prgdis would pass: it prints the command it runs.
    command="$(prgdis "$name.prg" 2>/dev/null | head -1 || true)"
    tail -c +3 "$name.prg" > "$name.tmp"
    tolvek_time="$(best_of sh -c "$command")"
    prgdis_time="$(best_of prgdis "$name.prg")"
    printf '%-24s %11ss %11ss\n' "$name" "$tolvek_time" "$prgdis_time"
    cd "$work"
done
