#!/usr/bin/env bash
# prgdis's own cost, with a Tolvek.exe that does nothing: a 256 MiB program
# file against `tail -c +3` of the same file, side by side in one hyperfine
# run (medians and their ratio), and peak memory for 1 MiB and 256 MiB.
#   bench/frontend.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh bench
runs="${1:-10}"
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target prgdis >/dev/null

dir="$(mktemp -d /tmp/prgdis-bench.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
printf '#!/bin/sh\nexit 0\n' > "$dir/bin/Tolvek.exe"
chmod +x "$dir/bin/Tolvek.exe"
head -c $((256 * 1024 * 1024)) /dev/urandom > "$dir/big.prg"
head -c $((1024 * 1024)) /dev/urandom > "$dir/small.prg"
# Worst case for the scan: every other byte a SYS token.
python3 -c "import sys; sys.stdout.buffer.write(b'\x01\x08' + b'\x9e1' * (128 * 1024 * 1024 - 1))" > "$dir/tokens.prg"

prgdis="$PWD/build/prgdis"
cd "$dir"
export PATH="$dir/bin:$PATH"
hyperfine --warmup 2 --runs "$runs" --export-json times.json \
  -n prgdis "$prgdis big.prg" \
  -n tail "tail -c +3 big.prg > big.out" \
  -n prgdis-all-tokens "$prgdis tokens.prg" >/dev/null

python3 - <<'PY'
import json, statistics
r = {x["command"]: statistics.median(x["times"]) for x in json.load(open("times.json"))["results"]}
print(f"256 MiB, median: prgdis {r['prgdis']*1000:.0f} ms, tail -c +3 {r['tail']*1000:.0f} ms, "
      f"ratio {r['prgdis']/r['tail']:.2f} (goal <= 1.25)")
print(f"256 MiB of SYS tokens and digits, median: prgdis {r['prgdis-all-tokens']*1000:.0f} ms")
PY
for f in small big; do
  kib=$(/usr/bin/time -f '%M' "$prgdis" "$f.prg" 2>&1 >/dev/null | tail -n 1)
  echo "peak memory, $f.prg ($(du -h --apparent-size "$f.prg" | cut -f1)): ${kib} KiB"
done
