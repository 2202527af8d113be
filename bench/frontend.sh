#!/usr/bin/env bash
# prgdis's own cost, with a Tolvek.exe that does nothing: the largest
# program file (a 64 KiB image) against `tail -c +3` of the same file, side
# by side in one hyperfine run (medians and their ratio); the same size with
# every other byte a SYS token; a 256 MiB file, which is refused after its
# first 64 KiB; and peak memory for the largest file and the 256 MiB one.
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
head -c $((2 + 65536)) /dev/urandom > "$dir/largest.prg"
head -c $((256 * 1024 * 1024)) /dev/urandom > "$dir/big.prg"
# Worst case for the scan: every other byte a SYS token.
python3 -c "import sys; sys.stdout.buffer.write(b'\x01\x08' + b'\x9e1' * 32768)" > "$dir/tokens.prg"

# prgdis runs the Tolvek.exe beside it: a copy of it beside the one that
# does nothing.
cp build/prgdis "$dir/bin/prgdis"
prgdis="$dir/bin/prgdis"
cd "$dir"
export PATH="$dir/bin:$PATH"
hyperfine -N --warmup 2 --runs "$runs" --export-json times.json \
  -n prgdis "$prgdis largest.prg" \
  -n tail "sh -c 'tail -c +3 largest.prg > largest.out'" \
  -n prgdis-all-tokens "$prgdis tokens.prg" \
  -n prgdis-256MiB-refused -i "$prgdis big.prg" 2>/dev/null >/dev/null

python3 - <<'PY'
import json, statistics
r = {x["command"]: statistics.median(x["times"]) for x in json.load(open("times.json"))["results"]}
print(f"64 KiB image, median: prgdis {r['prgdis']*1000:.1f} ms, tail -c +3 {r['tail']*1000:.1f} ms, "
      f"ratio {r['prgdis']/r['tail']:.2f}")
print(f"64 KiB of SYS tokens and digits, median: prgdis {r['prgdis-all-tokens']*1000:.1f} ms")
print(f"256 MiB program file, refused, median: prgdis {r['prgdis-256MiB-refused']*1000:.1f} ms")
PY
for f in largest big; do
  kib=$({ /usr/bin/time -f '%M' "$prgdis" "$f.prg" 2>&1 >/dev/null || true; } | tail -n 1)
  echo "peak memory, $f.prg ($(du -h --apparent-size "$f.prg" | cut -f1)): ${kib} KiB"
done
