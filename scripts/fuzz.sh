#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a fixed time (default 60 s):
#   scripts/fuzz.sh [seconds]
# Each run starts from the committed seeds in fuzz/corpus/<target>; what it
# finds on the way stays in build-fuzz/corpus, so a longer run goes on from
# there. A crash, a sanitizer report or an input that takes longer than its
# time limit fails the script: an input made to be slow is found like a
# crash. Inputs may be as large as an image can be (64 KiB and a few bytes).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"
# Seconds one input may take in this (sanitizer) build: several times what
# the release build's whole run may take for the largest image, as the
# targets analyse each input twice and ASan slows them down.
timeout_for() {
  case "$1" in
    prepare) echo 5 ;;
    *) echo 10 ;;
  esac
}
for seeds in fuzz/corpus/*/; do
  target="$(basename "$seeds")"
  work="build-fuzz/corpus/$target"
  mkdir -p "$work"
  echo "=== fuzzing $target for ${seconds}s ==="
  if ! "build-fuzz/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
      -timeout="$(timeout_for "$target")" -max_len=65600 \
      -artifact_prefix="build-fuzz/$target-" "$work" "$seeds" > "build-fuzz/$target.log" 2>&1; then
    tail -n 40 "build-fuzz/$target.log"
    echo "fuzz target $target failed; the input that did it is in build-fuzz/$target-*"
    exit 1
  fi
  grep -E '^(Done|stat::)' "build-fuzz/$target.log"
done
