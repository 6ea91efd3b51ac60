#!/bin/sh
# Starts velmocair-sim on a free loopback TCP port, has velmocair-host poll it
# for CYCLES cycles, and stops the simulator with SIGTERM. Fails unless the
# host completes all CYCLES cycles and exits 0, and the simulator exits 0.
# Both run through VELMOCAIR_LAUNCHER (the emulator of a cross build; empty
# natively), each bounded in time.
# Usage: poll_simulator.sh HOST SIM CYCLES
set -eu
host=$1
sim=$2
cycles=$3
launcher=${VELMOCAIR_LAUNCHER:-}

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "poll_simulator: $*" >&2
  exit 1
}

$launcher "$sim" --tcp 0 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
waited=0
until grep -q '^listening tcp ' "$work/sim.out"; do
  kill -0 "$sim_pid" 2>/dev/null || fail "$sim ended: $(cat "$work/sim.err")"
  waited=$((waited + 1))
  [ "$waited" -le 1200 ] || fail "$sim printed no listening line in 120 s"
  sleep 0.1
done
endpoint=$(sed -n 's/^listening tcp //p' "$work/sim.out")

status=0
timeout 300 $launcher "$host" --tcp "$endpoint" --cycles "$cycles" --interval 0 \
  >"$work/host.out" 2>"$work/host.err" || status=$?
[ "$status" -eq 0 ] || fail "$host --tcp $endpoint --cycles $cycles exited $status:
$(cat "$work/host.err")"
completed=$(grep -c '^cycle [0-9]* unit .*: updated ' "$work/host.out" || true)
[ "$completed" -eq "$cycles" ] || fail "$completed of $cycles cycles completed:
$(cat "$work/host.out" "$work/host.err")"

kill -TERM "$sim_pid"
status=0
wait "$sim_pid" || status=$?
sim_pid=
[ "$status" -eq 0 ] || fail "$sim exited $status after SIGTERM: $(cat "$work/sim.err")"
echo "$host polled $sim at $endpoint: $completed cycles completed"
