#!/usr/bin/env bash
# Runs the gateway's benchmarks against their peers and prints one table.
#
#   bench/run_all.sh [--rows N] [--runs N] [--seconds T] [--rounds N]
#                    [--clients "1 8 32"]
#                    [--connections N] [--process-connections N] [--long]
#                    [--build-dir DIR]
#
# 1. Rows: bench/gateway_rows --rows-only (the gateway against an in-process
#    ODBC loop, SQLite and PostgreSQL, driver defaults and streaming options).
# 2. 'select 1' cycles: bench/select_cycles through the gateway, against
#    pgbench (-M simple, a script of 'select 1') direct to the server and
#    through PgBouncer in session pool mode, at the same client counts, in
#    turns, the best of --rounds rounds of each.
# 3. Idle connections: bench/idle_memory, memory per connected and greeted
#    connection in thread mode and in process mode.
#
# Defaults keep the run to a few minutes: 100 000 rows, 5 pairs, 2 rounds of
# 3 seconds per client count, 2000 idle connections (200 in process mode).
# --long takes 200 000 rows, 7 pairs, 3 rounds of 10 seconds and 2000
# connections in process mode.
#
# PostgreSQL: the cluster named by VELQUARN_PG_* or, without them, a private
# one started with scripts/postgres.sh and stopped at the end. pgbench
# (postgresql-client) and pgbouncer are installed with apt-get when missing
# and this runs as root; otherwise their rows say so. PgBouncer runs from a
# temporary folder of its own on a free loopback port and is stopped on exit.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
# free_port
source "$root/scripts/private_server.sh"
build="$root/build"
rows=100000
runs=5
seconds=3
clients="1 8 32"
cycle_rounds=2
connections=2000
process_connections=200

while [[ $# -gt 0 ]]; do
  case "$1" in
    --rows) rows=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --rounds) cycle_rounds=$2; shift 2 ;;
    --clients) clients=$2; shift 2 ;;
    --connections) connections=$2; shift 2 ;;
    --process-connections) process_connections=$2; shift 2 ;;
    --build-dir) build=$2; shift 2 ;;
    --long)
      rows=200000; runs=7; seconds=10; cycle_rounds=3; process_connections=2000
      shift
      ;;
    *) echo "run_all.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

log() { echo "run_all.sh: $*" >&2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/velquarn-bench.XXXXXX")
chmod 755 "$work"
started_pg=""
bouncer_pid=""
stop_bouncer() {
  [[ -n "$bouncer_pid" ]] || return 0
  # PgBouncer's own pid: the one started here runs under runuser as root.
  local own
  own=$(cat "$work/bouncer/pgbouncer.pid" 2>/dev/null || true)
  if [[ -n "$own" ]]; then kill "$own" 2>/dev/null || true; fi
  kill "$bouncer_pid" 2>/dev/null || true
  wait "$bouncer_pid" 2>/dev/null || true
  bouncer_pid=""
}
cleanup() {
  stop_bouncer
  if [[ -n "$started_pg" ]]; then
    "$root/scripts/postgres.sh" stop || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- Build -----------------------------------------------------------------
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
fi
cmake --build "$build" --target velquarn gateway_rows select_cycles idle_memory -j2 >&2

# --- Peers -----------------------------------------------------------------
install_missing() {
  local missing=()
  command -v pgbench >/dev/null || missing+=(postgresql-client)
  command -v pgbouncer >/dev/null || [[ -x /usr/sbin/pgbouncer ]] || missing+=(pgbouncer)
  [[ ${#missing[@]} -eq 0 ]] && return 0
  if [[ $(id -u) -ne 0 ]]; then
    log "not root: cannot install ${missing[*]}; their rows are left out"
    return 0
  fi
  log "installing ${missing[*]}"
  (apt-get install -y "${missing[@]}" || { apt-get update && apt-get install -y "${missing[@]}"; }) \
    >&2 || log "could not install ${missing[*]}"
}
install_missing
pgbouncer_bin=$(command -v pgbouncer || echo /usr/sbin/pgbouncer)
[[ -x "$pgbouncer_bin" ]] || pgbouncer_bin=""
# The pgbench of the newest server version when the client's is missing.
pgbench_bin=$(command -v pgbench || ls -d /usr/lib/postgresql/*/bin/pgbench 2>/dev/null |
  sort -V | tail -1 || true)

if [[ -z "${VELQUARN_PG_PORT:-}" ]]; then
  eval "$("$root/scripts/postgres.sh" start)"
  started_pg=1
fi


# PgBouncer refuses to run as root: as root it runs as the cluster's user.
# Called in the background, it replaces its subshell with PgBouncer.
run_as_server_user() {
  if [[ $(id -u) -ne 0 ]]; then
    exec "$@"
  else
    local user=postgres
    if ! id "$user" >/dev/null 2>&1; then
      user=velquarn-pg
      id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /bin/sh "$user" >&2
    fi
    chown -R "$user" "$work/bouncer"
    exec runuser -u "$user" -- "$@"
  fi
}

bouncer_port=""
start_bouncer() {
  [[ -n "$pgbouncer_bin" ]] || return 1
  mkdir -p "$work/bouncer"
  bouncer_port=$(free_port)
  cat >"$work/bouncer/pgbouncer.ini" <<EOF
[databases]
$VELQUARN_PG_DATABASE = host=$VELQUARN_PG_HOST port=$VELQUARN_PG_PORT dbname=$VELQUARN_PG_DATABASE

[pgbouncer]
listen_addr = 127.0.0.1
listen_port = $bouncer_port
unix_socket_dir =
auth_type = scram-sha-256
auth_file = $work/bouncer/userlist.txt
pool_mode = session
max_client_conn = 1000
default_pool_size = 200
logfile = $work/bouncer/pgbouncer.log
pidfile = $work/bouncer/pgbouncer.pid
EOF
  printf '"%s" "%s"\n' "$VELQUARN_PG_USER" "$VELQUARN_PG_PASSWORD" >"$work/bouncer/userlist.txt"
  chmod 600 "$work/bouncer/userlist.txt"
  run_as_server_user "$pgbouncer_bin" "$work/bouncer/pgbouncer.ini" >"$work/bouncer/out.log" 2>&1 &
  bouncer_pid=$!
  local _
  for _ in $(seq 1 50); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$bouncer_port") 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  log "PgBouncer did not start:"
  cat "$work/bouncer/out.log" "$work/bouncer/pgbouncer.log" >&2 2>/dev/null || true
  return 1
}

# pgbench's transactions per second for n clients on port: the last tps
# line, the one without the initial connection time.
pgbench_tps() {
  local port=$1 n=$2
  PGPASSWORD=$VELQUARN_PG_PASSWORD "$pgbench_bin" -n -M simple -f "$work/select1.sql" \
    -c "$n" -j "$n" -T "$seconds" -h 127.0.0.1 -p "$port" -U "$VELQUARN_PG_USER" \
    "$VELQUARN_PG_DATABASE" 2>"$work/pgbench.err" |
    awk '/^tps = / { tps = int($3) } END { if (tps != "") print tps }'
}

# --- Runs ------------------------------------------------------------------
log "rows: gateway_rows $rows --runs $runs --rows-only"
"$build/bench/gateway_rows" "$rows" --runs "$runs" --rows-only | tee "$work/rows.txt" >&2

# The three take turns at each client count, round after round, and the
# best round of each counts: a burst of other work on a shared machine then
# hits one round of one of them, not all of its figures.
echo "select 1;" >"$work/select1.sql"
chmod 644 "$work/select1.sql"
declare -A gated direct bounced
best() { awk -v a="${1:-0}" -v b="${2:-0}" 'BEGIN { print (a + 0 > b + 0) ? a : b }'; }
have_bouncer=""
if [[ -n "$pgbench_bin" ]] && start_bouncer; then have_bouncer=1; fi
for round in $(seq 1 "$cycle_rounds"); do
  for n in $clients; do
    log "select 1 cycles, round $round, $n clients: gateway, pgbench direct, via PgBouncer"
    figure=$("$build/bench/select_cycles" --clients "$n" --seconds "$seconds" |
      awk '$1 == "clients" { print int($8) }' || true)
    gated[$n]=$(best "${gated[$n]:-}" "$figure")
    if [[ -n "$pgbench_bin" ]]; then
      direct[$n]=$(best "${direct[$n]:-}" "$(pgbench_tps "$VELQUARN_PG_PORT" "$n" || true)")
    fi
    if [[ -n "$have_bouncer" ]]; then
      bounced[$n]=$(best "${bounced[$n]:-}" "$(pgbench_tps "$bouncer_port" "$n" || true)")
    fi
    log "  gateway ${gated[$n]}/s, direct ${direct[$n]:-?}/s, PgBouncer ${bounced[$n]:-?}/s (best so far)"
  done
done
stop_bouncer

log "idle connections: idle_memory --connections $connections --process $process_connections"
"$build/bench/idle_memory" --connections "$connections" --process "$process_connections" |
  tee "$work/memory.txt" >&2 || log "idle_memory failed"

# --- Table -----------------------------------------------------------------
met() { awk -v a="$1" -v op="$2" -v b="$3" 'BEGIN {
  if (a == "") { print "-"; exit }
  if (op == ">=") print (a + 0 >= b + 0) ? "yes" : "no, by " sprintf("%.1f %%", (b - a) / b * 100)
  else print (a + 0 <= b + 0) ? "yes" : "no, by " sprintf("%.1f %%", (a - b) / b * 100) }'; }

echo
echo "| benchmark | back end | figure | target | met? |"
echo "|---|---|---|---|---|"
# gateway_rows: database, options, rows, in-process/s, gateway/s, ratio, cpu
awk 'NR > 1 && NF == 7 && $3 ~ /^[0-9]+$/' "$work/rows.txt" |
  while read -r database options count plain gateway ratio cpu; do
    if [[ $options == defaults ]]; then target=0.97; label="driver defaults"
    else target=0.95; label="streaming ($options)"; fi
    printf '| rows/s, %s, %s rows | %s | %s x in-process (gateway %s/s, in-process %s/s; per CPU second %s x) | >= %s x | %s |\n' \
      "$label" "$count" "$database" "$ratio" "$gateway" "$plain" "$cpu" "$target" \
      "$(met "$ratio" ">=" "$target")"
  done
for n in $clients; do
  noun=clients
  [[ $n == 1 ]] && noun=client
  gateway=${gated[$n]:-}
  [[ $gateway == 0 ]] && gateway=""
  bouncer=${bounced[$n]:-}
  plain=${direct[$n]:-}
  if [[ -n "$bouncer" && -n "$gateway" ]]; then
    figure=$(awk -v g="$gateway" -v b="$bouncer" 'BEGIN { printf "%.2f", g / b }')
    printf '| select 1 cycles/s, %s %s | PostgreSQL | gateway %s/s = %s x pgbench via PgBouncer (%s/s) | >= 1.00 x | %s |\n' \
      "$n" "$noun" "$gateway" "$figure" "$bouncer" "$(met "$figure" ">=" 1)"
  else
    printf '| select 1 cycles/s, %s %s | PostgreSQL | gateway %s/s; pgbench via PgBouncer not measured | >= 1.00 x | - |\n' \
      "$n" "$noun" "${gateway:-?}"
  fi
  if [[ -n "$plain" && -n "$gateway" ]]; then
    figure=$(awk -v g="$gateway" -v d="$plain" 'BEGIN { printf "%.2f", g / d }')
    printf '| select 1 cycles/s, %s %s | PostgreSQL | gateway = %s x pgbench direct (%s/s) | (for comparison) | - |\n' \
      "$n" "$noun" "$figure" "$plain"
  fi
done
while read -r _ mode _ count _ before _ after _ per; do
  printf '| idle connections, %s mode | gateway | %s KiB per connection (%s connections; %s -> %s KiB) | <= 16 KiB | %s |\n' \
    "$mode" "$per" "$count" "$before" "$after" "$(met "$per" "<=" 16)"
done < <(grep '^mode ' "$work/memory.txt" || true)
