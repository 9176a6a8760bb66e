#!/bin/bash
# Whether the agent's cost per request stays flat as its state grows. For each
# case a fresh daemon (pinned to core 0) is measured at 64 connections with
# one NOTIFY in flight each (spop-load on core 1, medians of RUNS runs of
# agent CPU per ACK), then set up, then measured again:
#
#   idle       10,000 idle connections open beside the active ones
#   addresses  after 1,000,000 requests from distinct addresses
#   receipts   after 100,000 distinct receipts, each checked once and kept
#
#   bench/flat-cost.sh [idle|addresses|receipts]...   (default: all three)
#
# Needs build/vorn-spoa, build/vorn-receipt, build-bench/vorn-load (make
# bench) and spop-load (SPOP_LOAD, default /tmp/bench-build/spop-load, built
# by the protocol benchmark's baseline.sh).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SPOP_LOAD=${SPOP_LOAD:-/tmp/bench-build/spop-load}
RUNS=${RUNS:-3}
WORK=$(mktemp -d)
SOCK=$WORK/agent.sock
AGENT=
HELPER=

cleanup() {
  [[ -n $HELPER ]] && kill "$HELPER" 2>/dev/null || true
  [[ -n $AGENT ]] && kill "$AGENT" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

wait_for() {  # wait_for SECONDS COMMAND...
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    ((SECONDS < deadline)) || { echo "flat-cost: timed out: $*" >&2; exit 1; }
    sleep 0.1
  done
}

start_agent() {
  rm -f "$SOCK"
  taskset -c 0 "$ROOT/build/vorn-spoa" --socket="$SOCK" --metrics=off --log-verdicts=none "$@" \
    2>"$WORK/agent.log" &
  AGENT=$!
  wait_for 10 test -S "$SOCK"
}

stop_agent() {
  kill "$AGENT"
  wait "$AGENT" || true
  AGENT=
}

# Median agent CPU per ACK over RUNS runs.
measure() {
  for _ in $(seq "$RUNS"); do
    taskset -c 1 "$SPOP_LOAD" -u "$SOCK" -c 64 -d 1 -D 5 -w 1 --agent-pid "$AGENT" |
      sed -n 's/.*agent_cpu_us_per_ack=\([0-9.]*\).*/\1/p'
  done | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

report() {  # report CASE BEFORE AFTER
  local rss; rss=$(awk '/^VmRSS/ {print $2}' "/proc/$AGENT/status")
  awk -v c="$1" -v b="$2" -v a="$3" -v r="$rss" \
    'BEGIN {printf "| %s | %.2f us | %.2f us | %+.0f %% | %.1f MiB |\n", c, b, a, (a / b - 1) * 100, r / 1024}'
}

case_idle() {
  start_agent
  local before; before=$(measure)
  "$ROOT/build-bench/vorn-load" --socket="$SOCK" --connections=0 --idle=10000 --seconds=3600 \
    >"$WORK/idle.out" &
  HELPER=$!
  wait_for 120 grep -q "idle connections open" "$WORK/idle.out"
  report "10,000 idle connections" "$before" "$(measure)"
  kill "$HELPER"; wait "$HELPER" || true; HELPER=
  stop_agent
}

case_addresses() {
  start_agent
  local before; before=$(measure)
  "$ROOT/build-bench/vorn-load" --socket="$SOCK" --connections=8 --addresses=1000000 \
    --seconds=600 >/dev/null
  report "1,000,000 addresses" "$before" "$(measure)"
  stop_agent
}

case_receipts() {
  "$ROOT/build/vorn-receipt" keygen bench --out "$WORK/bench.key" >"$WORK/keys"
  start_agent --challenge=shadow --receipt-keys="$WORK/keys" --receipt-max-requests=1000000
  local before; before=$(measure)
  "$ROOT/build-bench/vorn-load" --socket="$SOCK" --connections=8 --receipts=100000 \
    --key="$WORK/bench.key" --seconds=600 >/dev/null
  report "100,000 receipts in the book" "$before" "$(measure)"
  stop_agent
}

echo "| case | CPU per ACK before | after | change | resident after |"
echo "|---|---|---|---|---|"
for c in "${@:-idle addresses receipts}"; do
  for one in $c; do "case_$one"; done
done
