#!/usr/bin/env bash
# Installs every system package the project needs and makes the wine prefixes the Windows tests run in.
# Safe to run again: apt-get skips what is there, a prefix that exists is kept.
# Usage: scripts/setup.sh [packages|wine]   (one half only: scripts/test.sh makes the prefixes while it
# builds)
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache clang clang-format lld llvm libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  zlib1g-dev libogg-dev libvorbis-dev vorbis-tools ffmpeg
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64
  xz-utils zstd python3 pkgconf libxxhash-dev groff-base man-db
)

install_packages() {
  local need_install=0 p
  for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      need_install=1
      break
    fi
  done
  [ "$need_install" = 1 ] || return 0
  export DEBIAN_FRONTEND=noninteractive
  local SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
}

# Wine prefixes: a 32-bit one for the i686 build, a 64-bit one for the x86_64 build. Some kernels
# cannot run 32-bit Linux programs at all (and so not the 32-bit wine loader); then only the 64-bit
# prefix exists and scripts/test.sh says that the i686 tests were skipped.
make_wine_prefixes() {
  local prefix_base="${WINE_PREFIX_BASE:-$HOME/.cache/project-wine}"
  mkdir -p "$prefix_base"
  make_prefix win64 /usr/lib/wine/wine64 "$prefix_base/win64"
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    make_prefix win32 /usr/lib/wine/wine "$prefix_base/win32"
  fi
}
make_prefix() { # arch loader dir
  [ -f "$3/system.reg" ] && return 0
  WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH="$1" WINEPREFIX="$3" WINEDEBUG=-all "$2" wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$3" wineserver -w 2>/dev/null || true
}

case "${1:-all}" in
  all) install_packages; make_wine_prefixes ;;
  packages) install_packages ;;
  wine) make_wine_prefixes ;;
  *) echo "usage: scripts/setup.sh [packages|wine]" >&2; exit 2 ;;
esac
