#!/usr/bin/env bash
# The Windows build under wine, end to end with the bundled disassembler:
# prgdis.exe finds Tolvek.exe in the current folder through cmd.exe, leaves
# .asm and .lst (with Windows line ends) and no .tmp, the .asm reassembles
# with acme to the identical program file, and a second run replaces the
# files of the first; read-only outputs are refused.
#   prgdis_under_wine.sh PRGDIS_EXE TOLVEK_EXE PROGRAM.prg
set -euo pipefail
prgdis_exe="$1"
tolvek_exe="$2"
program="$3"

dir="$(mktemp -d /tmp/prgdis-wine.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
cp "$prgdis_exe" "$dir/prgdis.exe"
cp "$tolvek_exe" "$dir/Tolvek.exe"
cp "$program" "$dir/game.prg"
cd "$dir"

fail() { echo "FAILED: $*"; exit 1; }

for run in 1 2; do
  wine prgdis.exe game.prg > out.txt 2> err.txt || fail "run $run: status $? ($(cat err.txt))"
  grep -q "File game.prg was disassembled successfully" out.txt || fail "run $run: no success message"
  [ -f game.asm ] && [ -f game.lst ] || fail "run $run: .asm or .lst missing"
  [ ! -e game.tmp ] || fail "run $run: game.tmp left behind"
  ls | grep -vxE 'prgdis.exe|Tolvek.exe|game.prg|game.asm|game.lst|out.txt|err.txt|again.prg' \
    && fail "run $run: unexpected files"
  # Every line ends with CR LF, so that any Windows editor shows it well.
  for f in game.asm game.lst; do
    [ "$(grep -c $'\r$' "$f")" -eq "$(wc -l < "$f")" ] || fail "run $run: $f has lines without CR LF"
  done
  acme -f cbm -o again.prg game.asm || fail "run $run: acme rejects game.asm"
  cmp game.prg again.prg || fail "run $run: reassembled program differs"
done

# A read-only output (wine's read-only attribute for a file without write
# permission) stops prgdis.exe before it writes anything, and Tolvek.exe
# alone leaves it too.
chmod a-w game.asm
wine prgdis.exe game.prg > out.txt 2> err.txt && fail "read-only game.asm: replaced"
[ "$(cat err.txt)" = "Output file game.asm is read-only!"$'\r' ] || fail "read-only game.asm: $(cat err.txt)"
[ ! -e game.tmp ] || fail "read-only game.asm: game.tmp written"
tail -c +3 game.prg > image.tmp
cp game.asm image.asm
wine Tolvek.exe -a -c6502 -o2049 -e2061 -t image.tmp 2> err.txt && fail "read-only image.asm: replaced"
grep -qF "Tolvek.exe: cannot replace 'image.asm': it is read-only" err.txt || fail "Tolvek.exe: $(cat err.txt)"
cmp game.asm image.asm || fail "read-only image.asm changed"

echo "prgdis.exe and Tolvek.exe under wine: 2 runs, .asm reassembles to the identical program;" \
  "read-only outputs are left alone"
