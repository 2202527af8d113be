#!/usr/bin/env bash
# Speed of the bundled disassembler and of whole runs, each measured side by
# side in one hyperfine run (medians, and ratios where there is a rival):
#  1. Tolvek.exe -a, and -w, on a 62 KiB image against da65 (cc65) on the
#     same image;
#  2. prgdis with the bundled Tolvek.exe on a typical 8 KiB program
#     (bench/programs/typical.c built with cl65) and on the largest possible
#     one, that program with data up to $FFFF.
#   bench/tolvek.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh bench
runs="${1:-20}"
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target prgdis tolvek >/dev/null
build="$PWD/build"

dir="$(mktemp -d /tmp/tolvek-bench.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
# Compiled in the scratch folder: cl65 leaves its object file beside the source.
cp bench/programs/typical.c "$dir/"
cd "$dir"
cl65 -t c64 -O -o typical.prg typical.c
python3 - <<'PY'
import random
random.seed(6502)
typical = open("typical.prg", "rb").read()
# The largest program: loaded at $0801, its image runs to $FFFF.
open("largest.prg", "wb").write(typical + bytes(random.randrange(256) for _ in range(0x10000 - 0x0801 - len(typical) + 2)))
# A 62 KiB image ($0800-$FFFF): the largest program's bytes, one lower.
open("image.bin", "wb").write(open("largest.prg", "rb").read()[2:] + b"\x00")
PY
export PATH="$build:$PATH"
hyperfine -N --warmup 3 --runs "$runs" --export-json tolvek.json \
  -n "Tolvek -a" "Tolvek.exe -a -c6502 -o2048 -e2061 -t image.bin" \
  -n "Tolvek -w" "Tolvek.exe -w -c6502 -o2048 -e2061 -t image.bin" \
  -n "da65" "da65 --cpu 6502 --start-addr 0x0800 -o image.s image.bin" >/dev/null
hyperfine -N --warmup 3 --runs "$runs" --export-json prgdis.json \
  -n "prgdis typical" "prgdis typical.prg" \
  -n "prgdis largest" "prgdis largest.prg" >/dev/null

python3 - <<'PY'
import json, os, statistics
def medians(name):
    return {x["command"]: statistics.median(x["times"]) for x in json.load(open(name))["results"]}
t = medians("tolvek.json")
print(f"62 KiB image, median: Tolvek -a {t['Tolvek -a']*1000:.1f} ms, Tolvek -w {t['Tolvek -w']*1000:.1f} ms, "
      f"da65 {t['da65']*1000:.1f} ms")
print(f"ratio to da65: -a {t['Tolvek -a']/t['da65']:.2f}, -w {t['Tolvek -w']/t['da65']:.2f} (goal <= 1.0 each)")
p = medians("prgdis.json")
print(f"whole prgdis run, median: typical ({os.path.getsize('typical.prg')} bytes) {p['prgdis typical']*1000:.1f} ms, "
      f"largest ({os.path.getsize('largest.prg')} bytes) {p['prgdis largest']*1000:.1f} ms")
PY
