#!/usr/bin/env bash
# Fuzz campaigns: scripts/fuzz.sh TARGET[,TARGET...]|all SECONDS. Builds the fuzz targets of build-asan
# (clang, libFuzzer, ASan+UBSan: scripts/build.sh fuzz) when needed, seeds each target's corpus from the
# test files and runs the targets at the lowest priority (the machine is shared), one after another, or
# FUZZ_PARALLEL at once. Corpora grow in build-asan/fuzz-corpus/TARGET; crash, leak and timeout inputs
# land in build-asan/fuzz-findings/TARGET. Prints executions and time per target; fails when any target
# found something. FUZZ_SEED (default 1, so a run is repeatable; 0 = random) seeds libFuzzer. FUZZ_NICE
# (default 19) is the niceness of all of it: campaigns run for wall-clock time, so a smoke run next to a
# build (scripts/test.sh) needs its share of the processors to get anything done.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target="${1:?usage: scripts/fuzz.sh TARGET[,TARGET...]|all SECONDS}"
seconds="${2:?usage: scripts/fuzz.sh TARGET[,TARGET...]|all SECONDS}"
build="$root/build-asan"
all_targets=(talvo_unpack talvo_pack talvo_manifest fastlz_decompress utf16_to_utf32 format_string_trunc mplg_reader)

# libFuzzer comes with clang's compiler runtime (libclang-rt-*-dev); without it there is nothing to run.
probe="$(mktemp -d)"
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' > "$probe/p.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1; then
  echo "== fuzz: SKIPPED: clang++ with libFuzzer's runtime is not available (scripts/setup.sh installs it)"
  exit 0
fi

niceness="${FUZZ_NICE:-19}"
JOBS="${JOBS:-2}" nice -n "$niceness" bash "$root/scripts/build.sh" fuzz >/dev/null
nice -n "$niceness" bash "$root/fuzz/make_corpus.sh" "$build" >/dev/null

if [ "$target" = all ]; then targets=("${all_targets[@]}"); else IFS=, read -ra targets <<<"$target"; fi

# One campaign; its summary line goes to build-asan/fuzz-findings/TARGET.summary, its status is the result.
run_target() {
  local t="$1"
  local bin="$build/bin/fuzz_$t" corpus="$build/fuzz-corpus/$t" findings="$build/fuzz-findings/$t"
  local log="$build/fuzz-findings/$t.log" summary="$build/fuzz-findings/$t.summary" result execs took status=0
  mkdir -p "$corpus" "$findings"
  if [ ! -x "$bin" ]; then
    echo "== fuzz $t: SKIPPED: not built here (its library is not in this tree)" >"$summary"
    return 0
  fi
  # -timeout: one input running this long is a hang; -rss_limit_mb: a bound on what any input may cost.
  if (cd "$findings" && nice -n "$niceness" "$bin" -max_total_time="$seconds" -seed="${FUZZ_SEED:-1}" -timeout=20 -rss_limit_mb=2560 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$build/fuzz-seeds/$t") \
        >"$log" 2>&1; then
    result=clean
  else
    result="FOUND SOMETHING (see $log and $findings)"
    status=1
  fi
  execs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
  took="$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | grep -o 'in [0-9]*' | grep -o '[0-9]*' || echo '?')"
  echo "== fuzz $t: $result: $execs executions in ${took:-?} s, corpus $(ls "$corpus" | wc -l) inputs" >"$summary"
  return "$status"
}

failed=0
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "${FUZZ_PARALLEL:-1}" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_target "$t" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
for t in "${targets[@]}"; do cat "$build/fuzz-findings/$t.summary"; done
exit "$failed"
