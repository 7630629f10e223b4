#!/usr/bin/env bash
# Builds one configuration: native (default), asan, tsan (the threaded tests only: ThreadSanitizer runs
# those), i686, x86_64 or fuzz (clang, libFuzzer targets).
# Usage: scripts/build.sh [KIND]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
kind="${1:-native}"
jobs="${JOBS:-$(nproc)}"
gen=()
build_args=()
command -v ninja >/dev/null && gen=(-G Ninja)
# ccache: rebuilds of unchanged sources (other worktrees, other checkouts of the same tree) come from
# its cache; paths under the tree are hashed relative to it so that clones in other folders share it.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
case "$kind" in
  native) dir=build; args=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan)   dir=build-asan; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE_ADDRESS=ON -DBUILD_BENCHMARKS=OFF) ;;
  tsan)   dir=build-tsan; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE_THREAD=ON -DBUILD_BENCHMARKS=OFF); build_args=(--target threaded_tests) ;;
  i686)   dir=build-i686; args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-i686.cmake" -DBUILD_BENCHMARKS=OFF -DBUILD_MVCORE=OFF -DBUILD_SPLICE=OFF) ;;
  x86_64) dir=build-x86_64; args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-x86_64.cmake" -DBUILD_BENCHMARKS=OFF) ;;
  fuzz)   dir=build-fuzz; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSANITIZE_ADDRESS=ON -DBUILD_FUZZERS=ON -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF) ;;
  *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/$dir" "${gen[@]}" "${launcher[@]}" -DPROJECT_WARNINGS_AS_ERRORS=ON "${args[@]}" >/dev/null
cmake --build "$root/$dir" -j "$jobs" "${build_args[@]}"
