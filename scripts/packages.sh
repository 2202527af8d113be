#!/usr/bin/env bash
# Builds the packages and checks what is inside them, not only that they
# were made: the .deb (with lintian, too) and the .tar.gz of the Linux
# build, the ZIP of the Windows cross-build. The example is run from the unpacked .deb, the
# unpacked .tar.gz, and the unpacked ZIP under wine; its source must
# rebuild the example, also where a Tolvek.exe of somebody else's lies
# beside it. Every file a document links to is in the package.
# Installs what is missing.
#   scripts/packages.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh packages windows
version="$(sed -n 's/^project(prgdis VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)"
[ -n "$version" ] || { echo "no version in CMakeLists.txt"; exit 1; }
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "packages: $*"; exit 1; }

# expect_files LIST_FILE PATH...: each path is in the list.
expect_files() {
  local list="$1"; shift
  for path in "$@"; do
    grep -qxF "$path" "$list" || { cat "$list"; fail "missing from the package: $path"; }
  done
}

# expect_links_resolve DOCUMENT...: each file that a document links to (a web
# address or a section of the document itself aside) lies where the link
# says, relative to the document.
expect_links_resolve() {
  local document target
  for document in "$@"; do
    [ -f "$document" ] || fail "no $document"
    while IFS= read -r target; do
      target="${target%%#*}"
      case "$target" in "" | *:*) continue ;; esac
      [ -f "$(dirname "$document")/$target" ] \
        || fail "$(basename "$document") links to $target, which the package does not hold"
    done < <(grep -o '\]([^)]*)' "$document" | sed 's/^](\(.*\))$/\1/')
  done
}

# run_example DIR PRGDIS...: runs prgdis on the example in DIR and checks
# that the .asm rebuilds it and that the .lst was written.
run_example() {
  local dir="$1"; shift
  (cd "$dir" && "$@" hello.prg >prgdis.out 2>&1) || { cat "$dir/prgdis.out"; fail "prgdis failed in $dir"; }
  [ -s "$dir/hello.lst" ] || fail "no hello.lst in $dir"
  grep -q "by Tolvek $version" "$dir/hello.asm" || fail "hello.asm does not name Tolvek $version"
  (cd "$dir" && acme -f cbm -o rebuilt.prg hello.asm) || fail "hello.asm from $dir does not assemble"
  cmp -s "$dir/rebuilt.prg" "$dir/hello.prg" || fail "hello.asm from $dir does not rebuild the example"
}

echo "=== Linux packages ==="
cmake --preset default
cmake --build --preset default -j "$(nproc)"
rm -rf build/packages
cpack --config build/CPackConfig.cmake -B build/packages
arch="$(dpkg --print-architecture)"
deb="build/packages/prgdis_${version}_${arch}.deb"
tgz="build/packages/prgdis-${version}-linux-$(uname -m).tar.gz"
[ -f "$deb" ] || fail "no $deb"
[ -f "$tgz" ] || fail "no $tgz"

dpkg-deb -c "$deb" | awk '{print $6}' > "$scratch/deb.list"
expect_files "$scratch/deb.list" ./usr/bin/prgdis ./usr/bin/Tolvek.exe \
  ./usr/share/man/man1/prgdis.1.gz ./usr/share/man/man1/Tolvek.1.gz ./usr/share/man/man1/Tolvek.exe.1.gz \
  ./usr/share/doc/prgdis/README.md ./usr/share/doc/prgdis/LICENSE ./usr/share/doc/prgdis/CHANGELOG.md \
  ./usr/share/doc/prgdis/changelog.gz ./usr/share/doc/prgdis/copyright \
  ./usr/share/doc/prgdis/Tolvek.md ./usr/share/doc/prgdis/examples/hello.prg
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the .deb's version is not $version"
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "the .deb names no dependencies"
if grep -qv -e '^\./$' -e '^\./usr/' "$scratch/deb.list"; then fail "the .deb installs outside /usr"; fi
mkdir "$scratch/deb" "$scratch/deb-run"
dpkg-deb -x "$deb" "$scratch/deb"
expect_links_resolve "$scratch/deb/usr/share/doc/prgdis/"{README.md,Tolvek.md,CHANGELOG.md}
grep -qF '](Tolvek.md' "$scratch/deb/usr/share/doc/prgdis/README.md" || fail "the .deb's README.md does not point to Tolvek.md"
cp "$scratch/deb/usr/share/doc/prgdis/examples/hello.prg" "$scratch/deb-run/"
run_example "$scratch/deb-run" env PATH="$scratch/deb/usr/bin:$PATH" prgdis
[ "$("$scratch/deb/usr/bin/Tolvek.exe" --version)" = "Tolvek.exe $version" ] || fail "Tolvek.exe --version"
MANWIDTH=80 man -l "$scratch/deb/usr/share/man/man1/prgdis.1.gz" 2>/dev/null | grep -q prgdis || fail "prgdis.1 does not render"
MANWIDTH=80 man -l "$scratch/deb/usr/share/man/man1/Tolvek.1.gz" 2>/dev/null | grep -q -- --unpack || fail "Tolvek.1 does not render"
MANPATH="$scratch/deb/usr/share/man" MANWIDTH=80 man Tolvek.exe 2>/dev/null | grep -q -- --unpack \
  || fail "man Tolvek.exe does not find the page"
# Debian's own documents: the changelog's latest entry is this version, the
# copyright file is machine-readable and gives the licence.
doc="$scratch/deb/usr/share/doc/prgdis"
zcat "$doc/changelog.gz" > "$scratch/changelog"
[ "$(dpkg-parsechangelog -l "$scratch/changelog" --show-field Version)" = "$version" ] \
  || fail "changelog.gz has no entry for $version on top (a section for it in CHANGELOG.md?)"
head -n 1 "$doc/copyright" | grep -qF 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  || fail "copyright is not in Debian's machine-readable format"
grep -qx 'License: Expat' "$doc/copyright" || fail "copyright names no licence"
# No errors and no warnings from Debian's package checker.
lintian --fail-on error,warning "$deb" || fail "lintian finds fault with $(basename "$deb")"
echo "$(basename "$deb"): $(wc -l < "$scratch/deb.list") entries, example rebuilt"

top="prgdis-${version}-linux-$(uname -m)"
tar tzf "$tgz" > "$scratch/tgz.list"
expect_files "$scratch/tgz.list" "$top/bin/prgdis" "$top/bin/Tolvek.exe" "$top/share/man/man1/Tolvek.1.gz" \
  "$top/share/man/man1/Tolvek.exe.1.gz" "$top/share/doc/prgdis/LICENSE" "$top/share/doc/prgdis/README.md" \
  "$top/share/doc/prgdis/Tolvek.md" "$top/share/doc/prgdis/examples/hello.prg"
mkdir "$scratch/tgz" "$scratch/tgz-run" "$scratch/tgz-planted"
tar xzf "$tgz" -C "$scratch/tgz"
expect_links_resolve "$scratch/tgz/$top/share/doc/prgdis/"{README.md,Tolvek.md,CHANGELOG.md}
cp "$scratch/tgz/$top/share/doc/prgdis/examples/hello.prg" "$scratch/tgz-run/"
run_example "$scratch/tgz-run" env PATH="$scratch/tgz/$top/bin:$PATH" prgdis
# Started by its path in a folder that holds a Tolvek.exe of somebody
# else's (first on PATH, too), prgdis runs the one beside it.
cp "$scratch/tgz-run/hello.prg" "$scratch/tgz-planted/"
printf '#!/bin/sh\ntouch "$(dirname "$0")/planted-ran"\nexit 1\n' > "$scratch/tgz-planted/Tolvek.exe"
chmod +x "$scratch/tgz-planted/Tolvek.exe"
run_example "$scratch/tgz-planted" env PATH="$scratch/tgz-planted:.:$PATH" "$scratch/tgz/$top/bin/prgdis"
[ ! -e "$scratch/tgz-planted/planted-ran" ] || fail "the .tar.gz's prgdis ran a Tolvek.exe of the current folder"
echo "$(basename "$tgz"): $(wc -l < "$scratch/tgz.list") entries, example rebuilt"

echo "=== Windows package ==="
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"
rm -rf build-windows/packages
cpack --config build-windows/CPackConfig.cmake -B build-windows/packages
top="prgdis-${version}-windows-x86_64"
zip="build-windows/packages/$top.zip"
[ -f "$zip" ] || fail "no $zip"
unzip -Z1 "$zip" > "$scratch/zip.list"
expect_files "$scratch/zip.list" "$top/prgdis.exe" "$top/Tolvek.exe" "$top/README.txt" "$top/Tolvek-README.txt" \
  "$top/LICENSE.txt" "$top/CHANGELOG.txt" "$top/examples/hello.prg"
mkdir "$scratch/zip" "$scratch/zip-planted"
unzip -q "$zip" -d "$scratch/zip"
expect_links_resolve "$scratch/zip/$top/"{README.txt,Tolvek-README.txt,CHANGELOG.txt}
grep -qF '](Tolvek-README.txt' "$scratch/zip/$top/README.txt" || fail "README.txt does not point to Tolvek-README.txt"
# As a user would: the example next to the programs, prgdis started there.
cp "$scratch/zip/$top/examples/hello.prg" "$scratch/zip/$top/"
run_example "$scratch/zip/$top" wine prgdis.exe
# In a folder of downloaded programs that holds a Tolvek.exe of somebody
# else's (here prgdis.exe itself, which refuses Tolvek's arguments), cmd.exe
# would run that one first; prgdis.exe runs the one beside it.
cp "$scratch/zip/$top/examples/hello.prg" "$scratch/zip-planted/"
cp "$scratch/zip/$top/prgdis.exe" "$scratch/zip-planted/Tolvek.exe"
run_example "$scratch/zip-planted" wine "$scratch/zip/$top/prgdis.exe"
version_line="$(cd "$scratch/zip/$top" && wine Tolvek.exe --version | tr -d '\r')"
[ "$version_line" = "Tolvek.exe $version" ] || fail "Tolvek.exe --version under wine said '$version_line'"
echo "$(basename "$zip"): $(wc -l < "$scratch/zip.list") entries, example rebuilt under wine"
