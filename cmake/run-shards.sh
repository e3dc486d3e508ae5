#!/bin/sh
# Runs a GoogleTest program as several shards side by side, each with a share of the tests (GoogleTest's own
# sharding), and prints each shard's output whole, one after another. Most of a suite's time is waiting (for a
# loopback server, a silence limit, a child process), so two shards take about half as long as one program.
# Fails when any shard fails. Usage: run-shards.sh <shards> <program> [arguments...]
shards=$1
shift
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
index=0
pids=""
while [ "$index" -lt "$shards" ]; do
  GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$index "$@" >"$out/$index" 2>&1 &
  pids="$pids $!"
  index=$((index + 1))
done
status=0
index=0
for pid in $pids; do
  wait "$pid" || status=1
  echo "=== shard $index of $shards"
  cat "$out/$index"
  index=$((index + 1))
done
exit $status
