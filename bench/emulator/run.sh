#!/usr/bin/env bash
# Speed of the 6510 emulator: builds emulator_bench, assembles the workload
# with acme and prints emulated instructions and cycles per second.
#   bench/emulator/run.sh [cycles] [repeats]
set -euo pipefail
cd "$(dirname "$0")/../.."
cycles="${1:-300000000}"
repeats="${2:-3}"
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target emulator_bench >/dev/null
dir="$(mktemp -d /tmp/emulator-bench.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
acme -f cbm -o "$dir/workload.prg" bench/emulator/workload.a
build/emulator_bench "$dir/workload.prg" "$cycles" "$repeats"
