#!/usr/bin/env bash
# The Windows build's Tolvek.exe writes the same files as the Linux build's,
# on a program full of $0A and $0D bytes (its load address too), which a
# text-mode writer would change: the source and listing of every dialect,
# ca65's configuration, the hints and the VICE labels the same but for
# Windows' CR LF line ends, and the unpacked program byte for byte.
#   outputs_like_linux_under_wine.sh WINDOWS_TOLVEK_EXE LINUX_TOLVEK_EXE
set -euo pipefail
windows_exe="$(realpath -m "$1")"
linux_exe="$(realpath -m "$2")"
fail() { echo "FAILED: $*"; exit 1; }
[ -x "$linux_exe" ] || fail "no Linux build at $linux_exe: build the default preset first"

dir="$(mktemp -d /tmp/prgdis-wine-like.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
cp "$windows_exe" "$dir/Tolvek.exe"
cd "$dir"
mkdir linux windows
# At $0A0D: copy 512 bytes to $4000 and run them: an rts, then $0A and $0D.
python3 - > linux/game.prg <<'PY'
import sys
load = 0x0A0D
source = load + 20
code = bytes([0xA2, 0x00,
              0xBD, source & 0xFF, source >> 8, 0x9D, 0x00, 0x40,
              0xBD, source & 0xFF, (source >> 8) + 1, 0x9D, 0x00, 0x41,
              0xE8, 0xD0, 0xF1, 0x4C, 0x00, 0x40])
data = bytes([0x60]) + bytes([0x0A, 0x0D, 0x0D, 0x0A, 0x0A, 0x0A, 0x0D]) * 73
sys.stdout.buffer.write(bytes([load & 0xFF, load >> 8]) + code + data)
PY
cp linux/game.prg windows/game.prg

for dialect in acme 64tass ca65 dasm xa; do
  for option in -a -w; do
    args=("$option" -c6502 -e2573 -p game.prg "-s$dialect")
    [ "$option" = -a ] && args+=(--write-hints game.hints --vice-labels game.vice --unpack)
    (cd linux && "$linux_exe" "${args[@]}") || fail "Linux build: $dialect $option"
    (cd windows && wine ../Tolvek.exe "${args[@]}") || fail "Windows build: $dialect $option"
  done
  for file in game.asm game.lst game.hints game.vice $([ "$dialect" = ca65 ] && echo game.cfg); do
    [ "$(grep -c $'\r$' "windows/$file")" -eq "$(wc -l < "windows/$file")" ] || fail "$dialect: $file has lines without CR LF"
    [ "$(tr -d '\r' < "windows/$file" | wc -l)" -eq "$(wc -l < "windows/$file")" ] || fail "$dialect: $file has a CR inside a line"
    cmp <(tr -d '\r' < "windows/$file") "linux/$file" || fail "$dialect: $file differs from the Linux build's"
  done
  cmp windows/game.unpacked.prg linux/game.unpacked.prg || fail "$dialect: the unpacked program differs"
  [ "$(head -c 2 windows/game.unpacked.prg | od -An -tx1 | tr -d ' ')" = 0040 ] || fail "unpacked program's load address"
  [ "$(stat -c %s windows/game.unpacked.prg)" -eq $((2 + 512)) ] || fail "unpacked program of $(stat -c %s windows/game.unpacked.prg) bytes"
done
echo "the Windows build's outputs are the Linux build's"
