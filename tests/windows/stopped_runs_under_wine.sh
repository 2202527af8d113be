#!/usr/bin/env bash
# Runs of the Windows build stopped by Ctrl+C (wine turns SIGINT into the
# console's CTRL_C_EVENT) at the moment their temporary files exist leave
# none behind: Tolvek.exe's, as it writes its outputs, and prgdis.exe's
# game.tmp, while Tolvek.exe reads it. The outputs are the older ones or
# complete new ones.
#   stopped_runs_under_wine.sh PRGDIS_EXE TOLVEK_EXE
set -euo pipefail
prgdis_exe="$1"
tolvek_exe="$2"
runs=20

dir="$(mktemp -d /tmp/prgdis-wine-stop.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
cp "$prgdis_exe" "$dir/prgdis.exe"
cp "$tolvek_exe" "$dir/Tolvek.exe"
cd "$dir"
# A program of 62 000 bytes, so that the outputs take a moment to write.
python3 -c "import random, sys; r = random.Random(5); sys.stdout.buffer.write(bytes([1, 8]) + bytes(r.randrange(256) for _ in range(62000)))" > game.prg
tail -c +3 game.prg > image.tmp

fail() { echo "FAILED: $*"; exit 1; }

# Waits for `pid` to end, at most eight seconds.
ended() {
  for _ in $(seq 80); do
    kill -0 "$1" 2>/dev/null || { wait "$1" 2>/dev/null || true; return 0; }
    sleep 0.1
  done
  kill -9 "$1" 2>/dev/null || true
  return 1
}

temporaries() { compgen -G '.[0-9a-v]*' || true; }

wine Tolvek.exe -a -c6502 -o2049 -e2049 -t image.tmp -sca65 || fail "a whole run fails"
complete_asm="$(md5sum < image.asm)"
complete_cfg="$(md5sum < image.cfg)"
stopped=0
for run in $(seq "$runs"); do
  echo "old asm" > image.asm
  echo "old cfg" > image.cfg
  wine Tolvek.exe -a -c6502 -o2049 -e2049 -t image.tmp -sca65 >/dev/null 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    # A run may end between the two looks; it was not stopped then.
    if [ -n "$(temporaries)" ]; then kill -INT "$pid" 2>/dev/null && stopped=$((stopped + 1)); break; fi
  done
  ended "$pid" || fail "Tolvek.exe run $run did not end after Ctrl+C"
  [ -z "$(temporaries)" ] || fail "Tolvek.exe run $run left $(temporaries)"
  asm="$(md5sum < image.asm)"
  cfg="$(md5sum < image.cfg)"
  if [ "$asm" = "$complete_asm" ]; then
    [ "$cfg" = "$complete_cfg" ] || fail "run $run: a new source with an old configuration"
  else
    [ "$(cat image.asm)" = "old asm" ] && [ "$(cat image.cfg)" = "old cfg" ] || fail "run $run: outputs half written"
  fi
done
[ "$stopped" -ge $((runs / 2)) ] || fail "only $stopped of $runs Tolvek.exe runs were stopped in time"

stopped=0
for run in $(seq $((runs / 2))); do
  rm -f game.tmp
  wine prgdis.exe game.prg >/dev/null 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    if [ -e game.tmp ]; then kill -INT "$pid" 2>/dev/null && stopped=$((stopped + 1)); break; fi
  done
  ended "$pid" || fail "prgdis.exe run $run did not end after Ctrl+C"
  sleep 0.3  # Tolvek.exe, stopped too, may still be on its way out
  [ ! -e game.tmp ] || fail "prgdis.exe run $run left game.tmp"
done
[ "$stopped" -ge $((runs / 4)) ] || fail "only $stopped prgdis.exe runs were stopped in time"
echo "stopped $stopped runs of each; nothing left behind"
