#!/usr/bin/env bash
# Three gateways behind HAProxy on one machine: builds the demo as
# scripts/run_demo.sh does, starts gateways on 127.0.0.1 ports 8881, 8882
# and 8883 (PROXY protocol on, the demo database) and runs HAProxy on
# examples/haproxy/haproxy.cfg in the foreground on port 8888. Try
# `velquarn-cli -d demo`; stop everything with Ctrl+C. The gateways' event
# logs are gw1.log to gw3.log in the folder printed at start.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

VELQUARN_DEMO_PREPARE_ONLY=1 scripts/run_demo.sh
build="${VELQUARN_BUILD_DIR:-$root/build-release}"
run="$build/demo-haproxy"
mkdir -p "$run"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

for i in 1 2 3; do
  cat > "$run/gw$i.ini" <<INI
[Settings]
Port=888$i
ListenAddress=127.0.0.1
ProxyProtocol=1
ProxyFrom=127.0.0.1
ShutdownGraceSec=10

[demo]
DriverName=SQLite3
DriverParams=Database=$build/demo/demo.db,StepAPI=1
INI
  "$build/src/service/velquarn" --config "$run/gw$i.ini" --event-log "$run/gw$i.log" &
  pids+=($!)
done

export VELQUARN_FRONT=127.0.0.1:8888
export VELQUARN_GW1=127.0.0.1:8881 VELQUARN_GW2=127.0.0.1:8882 VELQUARN_GW3=127.0.0.1:8883
echo "haproxy_demo: gateways on 8881-8883 (logs in $run), HAProxy on 8888"
echo "haproxy_demo: try: $build/src/cli/velquarn-cli -d demo"
haproxy -db -f "$root/examples/haproxy/haproxy.cfg"
