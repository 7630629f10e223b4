#!/usr/bin/env bash
# Installs every system package the project needs. Safe to run again: apt-get skips what is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build clang clang-format lld llvm
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  zlib1g-dev libogg-dev libvorbis-dev vorbis-tools ffmpeg
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64
  xz-utils zstd python3
)

need_install=0
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    need_install=1
    break
  fi
done

if [ "$need_install" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi

# Wine prefixes: a 32-bit one for the i686 build, a 64-bit one for the x86_64 build.
root="$(cd "$(dirname "$0")/.." && pwd)"
prefix_base="${WINE_PREFIX_BASE:-$HOME/.cache/project-wine}"
mkdir -p "$prefix_base"
if [ ! -f "$prefix_base/win32/system.reg" ]; then
  WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32 WINEPREFIX="$prefix_base/win32" WINEDEBUG=-all wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$prefix_base/win32" wineserver -w 2>/dev/null || true
fi
if [ ! -f "$prefix_base/win64/system.reg" ]; then
  WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 WINEPREFIX="$prefix_base/win64" WINEDEBUG=-all wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$prefix_base/win64" wineserver -w 2>/dev/null || true
fi
: "$root"
