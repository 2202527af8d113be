#!/usr/bin/env bash
# The Windows build's pictures: Tolvek.exe needs no zlib DLL (zlib is linked
# in), and under wine --pictures writes the same PNG files as the Linux
# build, pixel for pixel (zlib's bytes may differ between its versions),
# named after the program and each sprite's address; a read-only picture
# refuses the whole run.
#   pictures_under_wine.sh WINDOWS_TOLVEK_EXE LINUX_TOLVEK_EXE
set -euo pipefail
windows_exe="$(realpath -m "$1")"
linux_exe="$(realpath -m "$2")"
fail() { echo "FAILED: $*"; exit 1; }
[ -x "$linux_exe" ] || fail "no Linux build at $linux_exe: build the default preset first"

dlls="$(x86_64-w64-mingw32-objdump -p "$windows_exe" | sed -n 's/^\s*DLL Name: //p')"
[ -n "$dlls" ] || fail "objdump lists no DLLs of $windows_exe"
if grep -qi 'zlib\|libz' <<< "$dlls"; then fail "Tolvek.exe needs a zlib DLL: $(tr '\n' ' ' <<< "$dlls")"; fi

dir="$(mktemp -d /tmp/prgdis-wine-pictures.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
cp "$windows_exe" "$dir/Tolvek.exe"
cd "$dir"
mkdir linux windows
# At $2000 an rts, at $2040 two sprites, at $2100 a charset of four glyphs.
python3 - > linux/game.tmp <<'PY'
import sys
image = bytearray(0x120)
image[0] = 0x60
image[0x40:0x43] = b"\xf0\x0f\x81"
image[0x80 + 62] = 0x01
image[0x100:0x120] = bytes(range(1, 33))
sys.stdout.buffer.write(bytes(image))
PY
printf 'sprite $2040-$20bf\ncharset $2100-$211f\n' > linux/game.hints
cp linux/game.tmp linux/game.hints windows/
args=(-a -c6502 -o8192 -e8192 -t game.tmp --pictures)
(cd linux && "$linux_exe" "${args[@]}") || fail "Linux build"
(cd windows && wine ../Tolvek.exe "${args[@]}") || fail "Windows build"

pictures="game.charset_2100.png game.sprite_2040.png game.sprite_2080.png game.sprites.png"
[ "$(cd linux && echo $(ls game.*.png))" = "$pictures" ] || fail "the Linux build wrote $(cd linux && ls game.*.png)"
[ "$(cd windows && echo $(ls game.*.png))" = "$pictures" ] || fail "the Windows build wrote $(cd windows && ls game.*.png)"
# Each file's header and pixels, inflated.
pixels() {
  python3 - "$1" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n"
at, idat, header = 8, b"", None
while at < len(data):
    length, kind = struct.unpack(">I4s", data[at:at + 8])
    body = data[at + 8:at + 8 + length]
    assert zlib.crc32(kind + body) == struct.unpack(">I", data[at + 8 + length:at + 12 + length])[0], kind
    if kind == b"IHDR": header = body
    if kind == b"IDAT": idat += body
    at += 12 + length
sys.stdout.write(header.hex() + " " + zlib.decompress(idat).hex() + "\n")
PY
}
for picture in $pictures; do
  [ "$(pixels "windows/$picture")" = "$(pixels "linux/$picture")" ] || fail "$picture differs from the Linux build's"
done

# A read-only picture (wine's read-only attribute): nothing is written.
rm windows/game.asm windows/game.sprite_2040.png
chmod a-w windows/game.sprites.png
(cd windows && wine ../Tolvek.exe "${args[@]}" 2> err.txt) && fail "read-only game.sprites.png: replaced"
grep -qF "Tolvek.exe: cannot replace 'game.sprites.png': it is read-only" windows/err.txt || fail "$(cat windows/err.txt)"
[ ! -e windows/game.asm ] && [ ! -e windows/game.sprite_2040.png ] || fail "read-only game.sprites.png: other outputs written"

# More pictures than the C runtime has streams (512): each output is closed
# once written, and all are written.
chmod u+w windows/game.sprites.png
mkdir many
python3 -c 'import sys; sys.stdout.buffer.write(bytes([0x60]) * (0x40 + 600 * 64))' > many/game.tmp
printf 'sprite $2040-$b63f\n' > many/game.hints
(cd many && wine ../Tolvek.exe -a -c6502 -o8192 -e8192 -t game.tmp --pictures --run-cycles 0 2> err.txt) ||
  fail "600 sprites: $(cat many/err.txt)"
[ "$(ls many/game.sprite_*.png | wc -l)" -eq 600 ] && [ -f many/game.sprites.png ] ||
  fail "600 sprites: $(ls many/game.sprite_*.png | wc -l) pictures written"

echo "the Windows build needs no zlib DLL ($(tr '\n' ' ' <<< "$dlls")) and writes the Linux build's pictures"
