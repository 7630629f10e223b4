#!/usr/bin/env bash
# Builds one configuration: native (default), asan, tsan, i686, x86_64 or fuzz.
#   native  build/         gcc, Release: every program, test and benchmark; talvo's code optimised
#                          with profiles from a training run (scripts/pgo_train.sh) of an instrumented
#                          build in build-pgo/; TALVO_PGO=0 builds without them
#   asan    build-asan/    clang, ASan+UBSan: every program and test, and the libFuzzer targets (the
#                          libraries they reach carry coverage instrumentation; the tests run them too)
#   fuzz    build-asan/    the same configuration, only the fuzz targets and what seeds them
#   tsan    build-tsan/    clang, TSan: the threaded tests only (target threaded_tests), since those are
#                          what ThreadSanitizer runs
#   i686    build-i686/    mingw-w64, Release: talvo and its tests
#   x86_64  build-x86_64/  mingw-w64, Release: every program and test
# Usage: scripts/build.sh [KIND] [TARGET...]   (targets: only those, e.g. talvo mvcore_array_test)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
kind="${1:-native}"
shift || true
jobs="${JOBS:-$(nproc)}"
gen=()
build_args=()
command -v ninja >/dev/null && gen=(-G Ninja)
# ccache: rebuilds of unchanged sources (other worktrees, other checkouts of the same tree) come from
# its cache; paths under the tree are hashed relative to it so that clones in other folders share it.
# The test programs' precompiled header needs the sloppiness below. CCACHE_DISABLE=1 turns it off
# (scripts/test.sh does on a machine whose cache is empty).
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR=1 CCACHE_SLOPPINESS=pch_defines,time_macros
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# The sanitizer builds use clang: it compiles them two to three times faster than gcc, and the ASan
# build is also the libFuzzer build. Line tables are all a sanitizer's stack trace needs (file:line)
# and cost less than full debug information; add -DCMAKE_CXX_FLAGS=-g for a debugger.
clang_sanitizer=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG"
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG" -DTALVO_SUITE_BUILD_BENCHMARKS=OFF)
case "$kind" in
  native) dir=build; args=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan)   dir=build-asan; args=("${clang_sanitizer[@]}" -DTALVO_SUITE_SANITIZE_ADDRESS=ON -DTALVO_SUITE_BUILD_FUZZERS=ON) ;;
  fuzz)   dir=build-asan; args=("${clang_sanitizer[@]}" -DTALVO_SUITE_SANITIZE_ADDRESS=ON -DTALVO_SUITE_BUILD_FUZZERS=ON); build_args=(--target fuzzers) ;;
  tsan)   dir=build-tsan; args=("${clang_sanitizer[@]}" -DTALVO_SUITE_SANITIZE_THREAD=ON); build_args=(--target threaded_tests) ;;
  i686)   dir=build-i686; args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-i686.cmake" -DTALVO_SUITE_BUILD_BENCHMARKS=OFF -DTALVO_SUITE_BUILD_MVCORE=OFF -DTALVO_SUITE_BUILD_SPLICE=OFF) ;;
  x86_64) dir=build-x86_64; args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-x86_64.cmake" -DTALVO_SUITE_BUILD_BENCHMARKS=OFF) ;;
  *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac
if [ "$#" -gt 0 ]; then build_args=(--target "$@"); fi

# Profile-guided talvo (native only): the instrumented programs are built and trained afresh each time;
# the profiles are copied into build/ only when they changed, so that an unchanged tree does not
# recompile talvo.
if [ "$kind" = native ] && [ "${TALVO_PGO:-1}" != 0 ]; then
  train="$root/build-pgo"
  profile="$root/$dir/pgo-profile"
  cmake -S "$root" -B "$train" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DTALVO_PGO=generate \
    -DTALVO_PGO_PROFILE_DIR="$train/profile" -DBUILD_TESTING=OFF -DTALVO_SUITE_BUILD_BENCHMARKS=OFF -DTALVO_SUITE_BUILD_MVCORE=OFF \
    -DTALVO_SUITE_BUILD_SPLICE=OFF >/dev/null
  cmake --build "$train" -j "$jobs" --target talvo talvo-pack
  rm -rf "$train/profile"
  "$root/scripts/pgo_train.sh" "$train/bin"
  if ! diff -r -q -x stamp "$train/profile" "$profile" >/dev/null 2>&1; then
    rm -rf "$profile"
    mkdir -p "$(dirname "$profile")"
    cp -r "$train/profile" "$profile"
    touch "$profile/stamp"
  fi
  args+=(-DTALVO_PGO=use -DTALVO_PGO_PROFILE_DIR="$profile")
elif [ "$kind" = native ]; then
  args+=(-DTALVO_PGO=off)
fi
cmake -S "$root" -B "$root/$dir" "${gen[@]}" "${launcher[@]}" -DTALVO_SUITE_WARNINGS_AS_ERRORS=ON "${args[@]}" >/dev/null
cmake --build "$root/$dir" -j "$jobs" "${build_args[@]}"
