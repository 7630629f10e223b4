#!/usr/bin/env bash
# Sets everything up, builds every configuration and runs every test. Fails on any test failure,
# sanitizer report or fuzz finding. The configurations (scripts/build.sh): native; asan (ASan+UBSan,
# with the libFuzzer targets, each run briefly); tsan (the threaded tests); x86_64 (tests under 64-bit
# wine); i686 (tests under 32-bit wine where this kernel runs it, else only its programs are built).
#
# The builds run one after another, each with every core. A configuration's tests start as soon as its
# build is done, while the next configuration compiles (in two chains: the Linux tests, the Windows
# tests under wine), so that tests that wait (on wine, sleeping threads, child processes) leave the
# processors to the compiler and no core idles at the end of a build. The wine prefixes are made during
# the first build.
#
# The Windows tests run under wine through scripts/wine_tests.sh: one wine server per prefix for the
# whole stage, and a test that wine's own server connection failed (only such a test) runs once more,
# named in the stage table. Ctrl-C or SIGTERM stops every stage and the wine servers.
#
# Each stage writes its output to build-logs/STAGE.log, and the log of a stage that failed is printed
# at the end. Every stage has a budget in seconds (beside it below); a table of stage times closes the
# run and names the stages that ran over, without failing for it: timings on a shared machine are noisy.
# Budgets are for a fresh clone on a 2-core machine with a cold compiler cache; together they keep the
# whole run, package installation included, under 25 minutes.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root" || exit 1
export WINE_PREFIX_BASE="${WINE_PREFIX_BASE:-$HOME/.cache/project-wine}"
jobs="$(nproc)"
logs="$root/build-logs"
rm -rf "$logs"
mkdir -p "$logs"
total_budget=1500 # the whole run: 25 minutes
started="$(date +%s)"

clock() {
  local s=$(($(date +%s) - started))
  printf '%02d:%02d' $((s / 60)) $((s % 60))
}
say() { printf '== [%s] %s\n' "$(clock)" "$*"; }

# run_stage NAME BUDGET COMMAND...: runs COMMAND with its output in build-logs/NAME.log and records
# its wall-clock and processor time (user + system, of every process it waited for) and its result.
# What COMMAND writes to the file $STAGE_NOTE names goes into the table beside the result.
run_stage() {
  local name="$1" budget="$2"
  shift 2
  local t0 t1 rc
  t0="$(date +%s)"
  say "$name: started"
  (
    export STAGE_NOTE="$logs/$name.note"
    "$@"
    rc=$?
    times >"$logs/$name.cpu" # second line: the processes it waited for (not in a pipe: a subshell)
    exit "$rc"
  ) >"$logs/$name.log" 2>&1 &
  wait "$!" # (not in the foreground, where the shell would hold Ctrl-C and SIGTERM until it ended)
  rc=$?
  t1="$(date +%s)"
  local cpu
  cpu="$(awk 'NR == 2 { for (i = 1; i <= 2; i++) { split($i, p, /[ms]/); n += p[1] * 60 + p[2] } } END { printf "%d", n }' \
    "$logs/$name.cpu" 2>/dev/null || echo 0)"
  local result=passed note=""
  [ "$rc" = 0 ] || result=FAILED
  [ -f "$logs/$name.note" ] && note="$(tr '\t\n' '  ' <"$logs/$name.note")"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$budget" "$((t0 - started))" "$((t1 - t0))" "$cpu" "$result" \
    "$note" >>"$logs/stages.tsv"
  say "$name: $result in $((t1 - t0)) s (CPU $cpu s)$([ "$rc" = 0 ] || echo "; log: build-logs/$name.log")${note:+ ($note)}"
  echo "$rc" >"$logs/$name.rc"
  return "$rc"
}

# A stage that does not run, with the reason in the table.
skip_stage() {
  printf '%s\t-\t%s\t0\t0\t%s\t\n' "$1" "$(($(date +%s) - started))" "$2" >>"$logs/stages.tsv"
  say "$1: $2"
}

# after STAGE...: waits until each STAGE has finished; fails when one of them failed.
after() {
  local stage
  for stage in "$@"; do
    while [ ! -f "$logs/$stage.rc" ]; do sleep 1; done
    [ "$(cat "$logs/$stage.rc")" = 0 ] || return 1
  done
}

build() { bash scripts/build.sh "$@"; }
run_ctest() {
  local dir="$1"
  shift
  ctest --test-dir "$root/$dir" --output-on-failure -j "$jobs" "$@"
}
# Any sanitizer report aborts the process that made it (halt_on_error, abort_on_error), so it fails its
# test even where the report comes from a program a test runs and expects to fail: an abort is not the
# exit status 1 of an ordinary failure.
asan_tests() {
  ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
    UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1 run_ctest build-asan
}
tsan_tests() {
  TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:second_deadlock_stack=1 run_ctest build-tsan -L threaded
}
# Every fuzz target for a short fixed time (skipped, with a message, without libFuzzer). The campaigns
# run at normal priority: they run for wall-clock time, next to a build.
fuzz_smoke() { FUZZ_NICE=0 bash scripts/fuzz.sh all "${FUZZ_SMOKE_SECONDS:-12}"; }
# The prefixes match the toolchain files' (both read WINE_PREFIX_BASE).
wine_tests() { # BUILD_DIR PREFIX
  bash scripts/wine_tests.sh "$root/$1" "$WINE_PREFIX_BASE/$2"
}

# 32-bit wine needs a kernel that runs 32-bit programs. Where it cannot start, the i686 tests cannot
# run, so only the programs that ship for i686 are built (warning-free, like everything); the same
# sources are tested in every other configuration, under 64-bit wine among them.
i686_tests_run=0
/usr/lib/wine/wine --version >/dev/null 2>&1 && i686_tests_run=1

# ccache pays only where its cache already holds something (a developer's machine). On a fresh machine
# (CI; ccache not even installed yet) a cold cache only costs, about 7% more compile time, so it is left
# off there.
if [ -z "${CCACHE_DISABLE:-}" ] && { ! command -v ccache >/dev/null ||
  [ -z "$(ls -A "$(ccache -k cache_dir 2>/dev/null)" 2>/dev/null)" ]; }; then
  export CCACHE_DISABLE=1
fi

# The tests, in two chains beside the builds, each configuration's once its build is done: the Linux
# ones, and the Windows ones under wine (which also keep the wine server busy).
linux_tests() {
  if after build-native; then
    run_stage test-native 120 run_ctest build # budget 120 s: every test; samples made with real encoders
  else skip_stage test-native "skipped: build failed"; fi
  if after build-asan; then
    run_stage test-asan 210 asan_tests # budget 210 s: every test under ASan+UBSan
    run_stage fuzz-smoke 100 fuzz_smoke # budget 100 s: 6 targets x 12 s, seeds made from the samples
  else
    skip_stage test-asan "skipped: build failed"
    skip_stage fuzz-smoke "skipped: build failed"
  fi
  if after build-tsan; then
    run_stage test-tsan 150 tsan_tests # budget 150 s: the threaded tests under TSan
  else skip_stage test-tsan "skipped: build failed"; fi
}
windows_tests() {
  if after build-x86_64 wine-prefixes; then
    run_stage test-x86_64 150 wine_tests build-x86_64 win64 # budget 150 s: every test under 64-bit wine
  else skip_stage test-x86_64 "skipped: build or wine prefix failed"; fi
  if [ "$i686_tests_run" = 0 ]; then
    skip_stage test-i686 "skipped: this kernel cannot run 32-bit programs, so 32-bit wine cannot start"
  elif after build-i686; then
    run_stage test-i686 90 wine_tests build-i686 win32 # budget 90 s: the talvo tests under 32-bit wine
  else skip_stage test-i686 "skipped: build failed"; fi
}

# Ctrl-C or SIGTERM: the stages run in the background, where Ctrl-C does not reach them, so every
# process of the run is ended here, and the wine servers (detached from the run) stopped.
descendants() {
  local child
  for child in $(ps -o pid= --ppid "$1"); do
    descendants "$child"
    echo "$child"
  done
}
interrupted() {
  trap - INT TERM
  echo
  say "interrupted: stopping every stage"
  descendants $$ | xargs -r kill 2>/dev/null
  local prefix
  for prefix in "$WINE_PREFIX_BASE"/win64 "$WINE_PREFIX_BASE"/win32; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null
  done
  exit 130
}
trap interrupted INT TERM

say "logs: build-logs/STAGE.log; ccache: $([ -n "${CCACHE_DISABLE:-}" ] && echo off || echo on)"
run_stage packages 180 bash scripts/setup.sh packages # budget 180 s: apt on a fresh machine (0 where installed)
run_stage wine-prefixes 120 bash scripts/setup.sh wine & # budget 120 s: wineboot, beside the first build
linux_tests &
windows_tests &
# The builds. The sanitizer builds come early, so that their long tests run while the rest compiles;
# i686 last: its tests, where they run, are short.
run_stage build-native 240 build native                # budget 240 s: gcc -O3, tests and benchmarks
run_stage build-asan 270 build asan                    # budget 270 s: clang, ASan+UBSan, fuzz targets
run_stage build-tsan 150 build tsan                    # budget 150 s: clang, TSan, the threaded tests only
run_stage build-x86_64 390 build x86_64                # budget 390 s: mingw -O3, every program and test
if [ "$i686_tests_run" = 1 ]; then
  run_stage build-i686 150 build i686                  # budget 150 s: mingw -O3, talvo and its tests
else
  run_stage build-i686 60 build i686 talvo talvo-pack  # budget 60 s: mingw -O3, talvo and talvo-pack only
fi
wait

# The table, in order of start, and the verdict.
status=0
over=()
echo
printf '%-14s %8s %8s %8s %8s  %s\n' stage start wall budget CPU result
while IFS=$'\t' read -r name budget start wall cpu result note; do
  printf '%-14s %5d:%02d %5d:%02d %8s %5d:%02d  %s\n' "$name" $((start / 60)) $((start % 60)) \
    $((wall / 60)) $((wall % 60)) "$([ "$budget" = - ] && echo - || printf '%d:%02d' $((budget / 60)) $((budget % 60)))" \
    $((cpu / 60)) $((cpu % 60)) "$result${note:+ ($note)}"
  [ "$result" = FAILED ] && status=1
  if [ "$budget" != - ] && [ "$wall" -gt "$budget" ]; then over+=("$name ($wall s of $budget s)"); fi
done < <(sort -t$'\t' -k3,3n "$logs/stages.tsv")
total=$(($(date +%s) - started))
printf '%-14s %8s %5d:%02d %5d:%02d\n' total "" $((total / 60)) $((total % 60)) $((total_budget / 60)) $((total_budget % 60))
[ "$total" -gt "$total_budget" ] && over+=("the whole run ($total s of $total_budget s)")
if [ "${#over[@]}" -gt 0 ]; then
  echo "Over budget (not a failure; the machine may have been busy): ${over[*]}"
fi

while read -r failed; do
  echo
  echo "== $failed failed; the end of build-logs/$failed.log:"
  tail -n 200 "$logs/$failed.log"
done < <(awk -F'\t' '$6 == "FAILED" { print $1 }' "$logs/stages.tsv")
echo
if [ "$status" != 0 ]; then
  echo "FAILED: $(awk -F'\t' '$6 == "FAILED" { printf "%s ", $1 }' "$logs/stages.tsv")(see above and build-logs/)"
  exit 1
fi
echo "ALL TESTS PASSED"
