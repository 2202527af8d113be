#!/usr/bin/env bash
# The Windows build under wine, end to end with the bundled disassembler:
# prgdis.exe finds Tolvek.exe in the current folder through cmd.exe, leaves
# .asm and .lst (with Windows line ends) and no .tmp, the .asm reassembles
# with acme to the identical program file, and a second run replaces the
# files of the first. Names beyond ASCII (Latin-1, Latin-2, Japanese, an
# emoji) give outputs named exactly like the input, also shown right on a
# console; read-only outputs are refused; control characters in names show
# as '?' in messages; hints as Notepad saves them are used, and written back
# as UTF-8 with CR LF.
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

# Wine passes names between Linux and Windows as UTF-8 in this locale.
export LC_ALL=C.UTF-8
names=(ü ø ő ł 日本 🎮 "Dürer Åsa Łódź")
for name in "${names[@]}"; do
  cp game.prg "$name.prg"
  wine prgdis.exe "$name.prg" > out.txt 2> err.txt || fail "$name: status $? ($(cat err.txt))"
  grep -qF "File $name.prg was disassembled successfully" out.txt || fail "$name: no success message"
  [ -f "$name.asm" ] && [ -f "$name.lst" ] || fail "$name: outputs not named like the input: $(ls | tr '\n' ' ')"
  [ ! -e "$name.tmp" ] || fail "$name: $name.tmp left behind"
  [[ "$(head -n 1 "$name.asm")" == "; Disassembly of $name.tmp by Tolvek "*$'\r' ]] || fail "$name: header names $(head -n 1 "$name.asm")"
  acme -f cbm -o again.prg "$name.asm" || fail "$name: acme rejects $name.asm"
  cmp game.prg again.prg || fail "$name: reassembled program differs"
  rm "$name.prg" "$name.asm" "$name.lst"
done

# A C1 control character in a name (U+009B, which a terminal may take for
# the start of a command) shows as '?' in both programs' messages. (Other
# control characters cannot pass through cmd.exe: refused before.)
c1=$'c\u009b'
cp game.prg "$c1.prg"
wine prgdis.exe "$c1.prg" > out.txt 2> err.txt || fail "$c1: status $? ($(cat err.txt))"
grep -qF "File c?.prg was disassembled successfully" out.txt || fail "$c1: $(tail -n 1 out.txt)"
wine Tolvek.exe -a -c6502 -o2049 -e2061 -t "$c1-none.tmp" 2> err.txt && fail "Tolvek.exe found $c1-none.tmp"
grep -qF "Tolvek.exe: cannot read image 'c?-none.tmp'" err.txt || fail "Tolvek.exe: $(cat err.txt)"
rm "$c1.prg" "$c1.asm" "$c1.lst"

# On a console (wine gives programs one on a terminal, here script's) the
# names show as they are, from prgdis.exe and from Tolvek.exe. Cursor moves
# of wine's console are dropped, and spaces with them. (Wine's console shows
# characters beyond 16 bits, such as the emoji, as two U+FFFD: not checked.)
on_console() {  # on_console COMMAND: its console output, without escapes and spaces
  script -qec "$1" /dev/null | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | tr -d ' \r'
}
cp game.prg 日本.prg
on_console "wine prgdis.exe 日本.prg" > console.txt || fail "console: status $? ($(cat console.txt))"
grep -qF "File日本.prgwasdisassembledsuccessfully" console.txt || fail "console shows: $(cat console.txt)"
on_console "wine Tolvek.exe -a -c6502 -o2049 -e2061 -t Łódź.tmp" > console.txt && fail "Tolvek.exe found Łódź.tmp"
grep -qF "Tolvek.exe:cannotreadimage'Łódź.tmp'" console.txt || fail "console shows: $(cat console.txt)"
rm 日本.prg 日本.asm 日本.lst console.txt

# Hints as Notepad saves them ("Unicode": UTF-16 LE with a byte-order mark,
# CR LF, no line end after the last line), naming a label file in a folder
# with a space, written with a backslash: prgdis.exe's run uses them, and
# Tolvek.exe writes them over with --write-hints as UTF-8 with CR LF, which
# give the same .asm.
cp game.prg hinted.prg
mkdir "my labels"
printf 'al C:080f .print_loop\r\n' > "my labels/game.vice"
{ printf '\xff\xfe'
  printf '# gr\xc3\xbcn: our names\r\nname $0835 wait_frame\r\nlabels "my labels\\game.vice"' | iconv -f UTF-8 -t UTF-16LE
} > hinted.hints
wine prgdis.exe hinted.prg > out.txt 2> err.txt || fail "UTF-16 hints: status $? ($(cat err.txt))"
for expected in "; hints from hinted.hints" $'\tjsr wait_frame' $'\tbne print_loop'; do
  grep -qF "$expected" hinted.asm || fail "UTF-16 hints: no '$expected' in hinted.asm"
done
acme -f cbm -o again.prg hinted.asm || fail "UTF-16 hints: acme rejects hinted.asm"
cmp game.prg again.prg || fail "UTF-16 hints: reassembled program differs"
cp hinted.asm first.asm
tail -c +3 hinted.prg > hinted.tmp
wine Tolvek.exe -a -c6502 -o2049 -e2061 -t hinted.tmp --write-hints hinted.hints 2> err.txt \
  || fail "--write-hints over UTF-16 hints: $(cat err.txt)"
rm hinted.tmp
[ "$(head -n 1 hinted.hints)" = "# grün: our names"$'\r' ] || fail "hints written: $(head -c 40 hinted.hints | od -c)"
iconv -f UTF-8 -t UTF-8 hinted.hints > /dev/null || fail "hints written are not UTF-8"
[ "$(grep -c $'\r$' hinted.hints)" -eq "$(wc -l < hinted.hints)" ] || fail "hints written have lines without CR LF"
wine prgdis.exe hinted.prg > out.txt 2> err.txt || fail "hints written back: status $? ($(cat err.txt))"
cmp first.asm hinted.asm || fail "hints written back give another .asm"
rm -r hinted.* first.asm "my labels"

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
  "${#names[@]} names beyond ASCII; the console shows them; read-only outputs are left alone;" \
  "a C1 control character shows as '?'; Notepad's UTF-16 hints are used and written back as UTF-8"
