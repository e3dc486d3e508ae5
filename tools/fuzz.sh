#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz and runs each for SECONDS seconds, one at a
# time, then prints per target: executions, coverage (libFuzzer's "cov:", edges) and the crash, hang and
# out-of-memory inputs found (kept in build-fuzz/fuzz-artifacts/<target>/).
# Usage: tools/fuzz.sh [SECONDS] [TARGET...]   (default 60 seconds, every target)
# The corpus grows across runs in build-fuzz/fuzz-corpus/<target>/; seeds are regenerated every run.
set -euo pipefail

cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=build-fuzz

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DUPDATER_FUZZ=ON \
  -DUPDATER_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ $# -gt 0 ]; then
  targets=("$@")
else
  # Every entry of the registry, in its order.
  mapfile -t targets < <(grep -o '{"[a-z0-9_]*", Fuzz' fuzz/entries/fuzz_entries.cpp | sed 's/{"\(.*\)", Fuzz/\1/')
fi
cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]/#/fuzz_}"

seeds="$build/fuzz-seeds"
rm -rf "$seeds"
python3 fuzz/make_seeds.py "$seeds"

# Longest input per target: decoders and archives need room for real data, texts do not.
max_len() {
  case "$1" in
    inflate*|unshrink|unreduce|explode|zip_*) echo 65536 ;;
    http_response|byte_ranges) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

# The extraction targets work in a temporary directory; one of the build's own, emptied after each target,
# keeps what a crashed run leaves behind out of the system's.
export TMPDIR="$PWD/$build/fuzz-tmp"

summary=()
total_found=0
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  artifacts="$build/fuzz-artifacts/$target"
  log="$build/fuzz-logs/$target.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")" "$seeds/$target"
  rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"
  before=$(find "$artifacts" -type f | wc -l)
  echo "== $target: $seconds s"
  # Fork mode with one job: a crash is kept and the run goes on, so one fault does not hide the next.
  "$build/fuzz/fuzz_$target" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$target")" \
    -artifact_prefix="$artifacts/" "$corpus" "$seeds/$target" >"$log" 2>&1 || true
  after=$(find "$artifacts" -type f | wc -l)
  found=$((after - before))
  total_found=$((total_found + found))
  # Fork-mode status lines: "#123456: cov: 789 ft: ... exec/s ... oom/timeout/crash: 0/0/0 time: ..."
  last=$(grep -E '^#[0-9]+: cov: ' "$log" | tail -1 || true)
  execs=$(sed -n 's/^#\([0-9]*\): .*/\1/p' <<<"$last")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  summary+=("$(printf '%-14s %12s %8s %8s' "$target" "${execs:-?}" "${cov:-?}" "$found")")
done

echo
printf '%-14s %12s %8s %8s\n' target executions edges found
printf '%s\n' "${summary[@]}"
echo "crash/hang/oom inputs found: $total_found (in $build/fuzz-artifacts/, logs in $build/fuzz-logs/)"
[ "$total_found" -eq 0 ]
