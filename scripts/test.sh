#!/usr/bin/env bash
# Sets everything up, builds every configuration and runs every test. Fails on any test failure
# or sanitizer report.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
export WINE_PREFIX_BASE="${WINE_PREFIX_BASE:-$HOME/.cache/project-wine}"
jobs="$(nproc)"
status=0

# Each stage's heading carries the time since the start, so a slow stage shows in the log.
stage() { printf '== [%02d:%02d] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"; }

run_ctest() {
  local dir="$1"; shift
  stage "tests: $dir"
  if ! ctest --test-dir "$root/$dir" --output-on-failure -j "$jobs" "$@"; then status=1; fi
}

for kind in native asan tsan i686 x86_64; do
  stage "build: $kind"
  bash scripts/build.sh "$kind"
done

run_ctest build
# Any sanitizer report aborts the process that made it (halt_on_error, abort_on_error), so it fails its
# test even where the report comes from a program a test runs and expects to fail: an abort is not the
# exit status 1 of an ordinary failure.
ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1 run_ctest build-asan
TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:second_deadlock_stack=1 run_ctest build-tsan -L threaded
# Fuzz smoke: every fuzz target for a short fixed time (skipped, with a message, without libFuzzer).
stage "fuzz smoke"
if ! bash scripts/fuzz.sh all "${FUZZ_SMOKE_SECONDS:-12}"; then status=1; fi
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  run_ctest build-i686
else
  stage "tests: build-i686 SKIPPED: this kernel cannot run 32-bit programs, so 32-bit wine cannot start"
  echo "   (the i686 build is still compiled; the same sources are tested under 64-bit wine)"
fi
run_ctest build-x86_64

stage "done"
if [ "$status" != 0 ]; then
  echo "SOME TESTS FAILED"
  exit 1
fi
echo "ALL TESTS PASSED"
