# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Sourced by the other scripts; "$@" names extra groups.
need_packages=()

need_command() {  # need_command COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 || need_packages+=("$2")
}

need_file() {  # need_file PATH PACKAGE
  [ -e "$1" ] || need_packages+=("$2")
}

need_command cmake cmake
need_command g++ g++
need_command make make
need_file /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake libgtest-dev

for group in "$@"; do
  case "$group" in
    test)
      need_command clang++ clang
      need_command acme acme
      need_command cl65 cc65
      ;;
    windows)
      need_command x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
      need_command wine wine
      need_command wine64 wine64
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
