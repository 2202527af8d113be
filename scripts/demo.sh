#!/usr/bin/env bash
# Builds prgdis and Tolvek.exe and disassembles the bundled example, a small
# C64 program of our own (examples/hello.asm, assembled to hello.prg), with
# its hints file (examples/hello.hints: names and comments of our own) in a
# scratch copy under build/demo/; then shows the start of the .asm and .lst.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target prgdis tolvek

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp examples/hello.prg examples/hello.hints "$demo/"
cd "$demo"
PATH="$PWD/..:$PATH" ../prgdis hello.prg
echo
echo "--- $demo/hello.asm (first 40 lines) ---"
head -n 40 hello.asm
echo
echo "--- $demo/hello.lst (first 30 lines) ---"
head -n 30 hello.lst
# The graphics as pictures, and the page to read in a browser.
mkdir page
cp hello.prg hello.hints page/
(cd page && ../../Tolvek.exe -a -c6502 -e2061 -p hello.prg --pictures --html)
echo
echo "--- pictures and page in $demo/page ---"
ls page
