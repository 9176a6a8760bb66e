#!/bin/bash
# Whether the agent's cost per request stays flat as its state grows. For each
# case a fresh daemon (pinned to core 0) is measured at 64 connections with
# one NOTIFY in flight each (spop-load on core 1, medians of RUNS runs of
# agent CPU per ACK), then set up, then measured again:
#
#   idle       10,000 idle connections open beside the active ones
#   addresses  after 1,000,000 requests from distinct addresses
#   receipts   after 100,000 distinct receipts, each checked once and kept
#   rotation   after 3,000,000 requests from distinct IPv6 addresses, 16 in
#              flight on each of 8 connections, as a client rotating through
#              its /64 would send them: over the forge's paths (every class
#              table fills), then all for one expensive path (one table);
#              also prints the answers the daemon took more than 50 ms for,
#              from its own histogram
#
#   bench/flat-cost.sh [idle|addresses|receipts|rotation]...   (default: all)
#
# The resident size is the daemon's after the case, and its peak. Needs
# build/vorn-spoa (VORN_SPOA to measure another build), build/vorn-receipt,
# build-bench/vorn-load (make bench), curl, and spop-load (SPOP_LOAD,
# default /tmp/bench-build/spop-load, built by the protocol benchmark's
# baseline.sh). The rotation case serves metrics on 127.0.0.1:METRICS_PORT
# (default 19190).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SPOP_LOAD=${SPOP_LOAD:-/tmp/bench-build/spop-load}
RUNS=${RUNS:-3}
VORN_SPOA=${VORN_SPOA:-$ROOT/build/vorn-spoa}
METRICS_PORT=${METRICS_PORT:-19190}
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
  taskset -c 0 "$VORN_SPOA" --socket="$SOCK" --metrics=off --log-verdicts=none "$@" \
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
  local rss peak
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$AGENT/status")
  peak=$(awk '/^VmHWM/ {print $2}' "/proc/$AGENT/status")
  awk -v c="$1" -v b="$2" -v a="$3" -v r="$rss" -v p="$peak" \
    'BEGIN {printf "| %s | %.2f us | %.2f us | %+.0f %% | %.1f MiB | %.1f MiB |\n", c, b, a, (a / b - 1) * 100, r / 1024, p / 1024}'
}

# Answers above the histogram's last bound, 50 ms, of all direct answers.
slow_answers() {
  curl -sf "127.0.0.1:$METRICS_PORT/metrics" | awk '
    /^vorn_spoa_notify_seconds_bucket\{path="direct",le="0.05"\}/ {within = $2}
    /^vorn_spoa_notify_seconds_bucket\{path="direct",le="\+Inf"\}/ {all = $2}
    END {printf "%d of %d answers took more than 50 ms", all - within, all}'
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

rotate() {  # rotate TITLE [vorn-load options]
  start_agent --metrics="127.0.0.1:$METRICS_PORT"
  local title=$1; shift
  local before; before=$(measure)
  "$ROOT/build-bench/vorn-load" --socket="$SOCK" --connections=8 --depth=16 --addresses=3000000 \
    --ipv6=1 --seconds=600 "$@" >"$WORK/rotation.out"
  report "$title" "$before" "$(measure)"
  NOTES+="$title: $(slow_answers); vorn-load: $(tail -n +2 "$WORK/rotation.out" | head -1)"$'\n'
  stop_agent
}

case_rotation() {
  rotate "3,000,000 IPv6 addresses, pipelined, every class"
  rotate "3,000,000 IPv6 addresses, pipelined, one class" --path=/alice/vorn/commit/3f2a9c1e
}

NOTES=
echo "| case | CPU per ACK before | after | change | resident after | peak |"
echo "|---|---|---|---|---|---|"
for c in "${@:-idle addresses receipts rotation}"; do
  for one in $c; do "case_$one"; done
done
printf "%s" "$NOTES"
