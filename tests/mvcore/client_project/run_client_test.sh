#!/usr/bin/env bash
# Installs mvcore from a build directory into a temporary prefix, then builds and runs a client against it
# twice: with CMake's find_package(mvcore) and with pkg-config.
# Usage: run_client_test.sh BUILD_DIR CLIENT_SOURCE_DIR WORK_DIR CMAKE CXX
set -euo pipefail
build_dir="$1" client_src="$2" work="$3" cmake="$4" cxx="$5"

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
"$cmake" --install "$build_dir" --prefix "$prefix" --component mvcore >/dev/null

# The prefix must hold everything a client needs, and nothing from the source tree is used below.
test -f "$prefix/include/Marvane/Platform.h"
test -f "$prefix/lib/pkgconfig/mvcore.pc" || test -n "$(find "$prefix" -name mvcore.pc)"

echo "== find_package(mvcore)"
"$cmake" -S "$client_src" -B "$work/cmake-client" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release >/dev/null
"$cmake" --build "$work/cmake-client" >/dev/null
"$work/cmake-client/mvcore_client"

echo "== pkg-config mvcore"
pc_dir="$(dirname "$(find "$prefix" -name mvcore.pc | head -n 1)")"
flags="$(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs mvcore)"
# shellcheck disable=SC2086
"$cxx" -std=c++20 "$client_src/main.cpp" $flags -o "$work/pkg-client"
libdir="$(PKG_CONFIG_PATH="$pc_dir" pkg-config --variable=libdir mvcore)"
LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$work/pkg-client"
