# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Sourced by the other scripts; "$@" names extra groups.
need_packages=()

need_command() {  # need_command COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 || need_packages+=("$2")
}

need_package() {  # need_package PACKAGE
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed' || need_packages+=("$1")
}

need_command cmake cmake
need_command g++ g++
need_command make make
need_package libgtest-dev
need_package zlib1g-dev       # PNG pictures

for group in "$@"; do
  case "$group" in
    test)
      need_command clang++ clang
      need_package libclang-rt-dev   # libFuzzer and the sanitizers' runtimes
      need_command acme acme
      need_command 64tass 64tass
      need_command cl65 cc65
      need_command dasm dasm
      need_command xa xa65
      need_command chromium chromium   # opens the HTML view headless
      ;;
    bench)
      need_command hyperfine hyperfine
      need_command /usr/bin/time time
      need_command da65 cc65
      need_command clang++ clang
      ;;
    packages)
      need_command acme acme
      need_command dpkg-shlibdeps dpkg-dev   # the .deb's dependencies
      need_command unzip unzip
      need_command gzip gzip
      need_command man man-db
      need_command lintian lintian   # Debian's checks of the .deb
      ;;
    windows)
      need_command x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
      need_package wine
      need_package wine64
      need_package libz-mingw-w64-dev
      ;;
  esac
done

if [ ${#need_packages[@]} -gt 0 ]; then
  echo "Installing: ${need_packages[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${need_packages[@]}"
fi
