#!/usr/bin/env bash
# The Windows build under wine, end to end with the bundled disassembler:
# prgdis.exe runs the Tolvek.exe beside it, also from a folder that holds
# another Tolvek.exe (which cmd.exe alone would run first), leaves
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
printf 'al C:0812 .print_loop\r\n' > "my labels/game.vice"
{ printf '\xff\xfe'
  printf '# gr\xc3\xbcn: our names\r\nname $083d wait_frame\r\nlabels "my labels\\game.vice"' | iconv -f UTF-8 -t UTF-16LE
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

# Device names are refused at once, never opened: as the program file, the
# image, a hints file and an output, whatever their case and extension.
chmod u+w game.asm image.asm
for name in con.prg aux.prg COM1.prg lpt1.prg Nul.x.prg "aux .prg"; do
  wine prgdis.exe "$name" < /dev/null > out.txt 2> err.txt && fail "$name: accepted"
  [ "$(cat err.txt)" = "Input file is not a regular file!"$'\r' ] || fail "$name: $(cat err.txt)"
done
tolvek_refuses() {  # tolvek_refuses MESSAGE ARGS...: Tolvek.exe stops with MESSAGE
  local message="$1"
  shift
  wine Tolvek.exe -a -c6502 -o2049 -e2061 "$@" < /dev/null > out.txt 2> err.txt && fail "$*: accepted"
  grep -qF "Tolvek.exe: $message" err.txt || fail "$*: $(cat err.txt)"
}
tolvek_refuses "cannot read image 'aux.tmp': it is the device AUX" -t aux.tmp
tolvek_refuses "cannot read image 'CON': it is the device CON" -t CON
tolvek_refuses "cannot read the hints file 'con.hints': it is the device CON" -t image.tmp --hints con.hints
tolvek_refuses "cannot replace 'com2.vice': it is the device COM2" -t image.tmp --vice-labels com2.vice
tolvek_refuses "cannot replace 'nul.hints': it is the device NUL" -t image.tmp --write-hints nul.hints
cmp game.asm image.asm || fail "a refused run wrote image.asm"

# The program file's name as Windows knows it names the outputs: without
# the dot at the end that Windows drops, and the long name for a short one,
# so that the hints file written under the long name is read.
rm -f game.asm game.lst
wine prgdis.exe game.prg. > out.txt 2> err.txt || fail "game.prg.: $(cat err.txt)"
[ -f game.asm ] && [ -f game.lst ] || fail "game.prg.: outputs named $(ls | tr '\n' ' ')"
cp game.prg game-long-name.prg
echo 'name $080d begin_here' > game-long-name.hints
short="$(wine cmd /c dir /x 2>/dev/null | tr -d '\r' | awk '$NF == "game-long-name.prg" { print $(NF - 1) }')"
[ -n "$short" ] || fail "no short name for game-long-name.prg"
wine prgdis.exe "$short" > out.txt 2> err.txt || fail "$short: $(cat err.txt)"
grep -q '^begin_here' game-long-name.asm || fail "$short: the long name's hints were not read"

# A folder of downloaded programs with a Tolvek.exe of somebody else's
# (here prgdis.exe itself, which refuses Tolvek's arguments): prgdis.exe,
# started there from its own folder, runs the one beside it.
mkdir downloads
cp game.prg downloads/
cp prgdis.exe downloads/Tolvek.exe
(cd downloads && wine ../prgdis.exe game.prg > out.txt 2> err.txt) || fail "downloads: status $? ($(cat downloads/err.txt))"
acme -f cbm -o again.prg downloads/game.asm || fail "downloads: acme rejects game.asm"
cmp game.prg again.prg || fail "downloads: reassembled program differs"
[ "$(head -n 1 downloads/out.txt)" = $'Tolvek.exe -a -c6502 -o2049 -e2061 -t game.tmp\r' ] \
  || fail "downloads: echoed $(head -n 1 downloads/out.txt)"
rm -r downloads

echo "prgdis.exe and Tolvek.exe under wine: 2 runs, .asm reassembles to the identical program;" \
  "${#names[@]} names beyond ASCII; the console shows them; read-only outputs are left alone;" \
  "a C1 control character shows as '?'; device names refused; outputs named after the name Windows knows;" \
  "a Tolvek.exe in the current folder is not run; Notepad's UTF-16 hints are used and written back as UTF-8"
