#!/usr/bin/env bash
# A private PostgreSQL cluster for the tests.
#
#   eval "$(scripts/postgres.sh start)"   initialise and start a cluster in a
#                                         temporary folder on a free port and
#                                         print the VELQUARN_PG_* exports
#   scripts/postgres.sh stop              stop the cluster named by
#                                         VELQUARN_PG_DIR and remove its folder
#   scripts/postgres.sh halt              stop that cluster, keeping it (an
#                                         outage for the soak run)
#   scripts/postgres.sh resume            start a halted cluster again on
#                                         VELQUARN_PG_PORT
#
# Only the export lines go to standard output; everything else goes to
# standard error. As root, the server runs as the unprivileged user
# "postgres" (or "velquarn-pg", created when needed), which owns the folder.
set -euo pipefail

log() { echo "postgres.sh: $*" >&2; }

# free_port, server_user, as_user
source "$(dirname "${BASH_SOURCE[0]}")/private_server.sh"

find_bin() {
  local dir
  for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    if [[ -x "$dir/initdb" && -x "$dir/pg_ctl" ]]; then
      echo "$dir"
      return 0
    fi
  done
  if command -v initdb >/dev/null && command -v pg_ctl >/dev/null; then
    dirname "$(command -v initdb)"
    return 0
  fi
  return 1
}

start() {
  local bin user dir port database=velquarn_test pg_user=velquarn password
  bin=$(find_bin) || { log "initdb and pg_ctl not found"; exit 1; }
  user=$(server_user postgres velquarn-pg)
  dir=$(mktemp -d "${TMPDIR:-/tmp}/velquarn-pg.XXXXXX")
  chmod 755 "$dir"
  password="pw$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
  printf '%s\n' "$password" >"$dir/pwfile"
  chmod 600 "$dir/pwfile"
  if [[ $(id -u) -eq 0 ]]; then
    chown -R "$user" "$dir"
  fi

  log "initialising a cluster in $dir as $user"
  as_user "$user" "$bin/initdb" -D "$dir/data" -U "$pg_user" --pwfile="$dir/pwfile" \
    --auth-local=scram-sha-256 --auth-host=scram-sha-256 -E UTF8 --locale=C >&2
  rm -f "$dir/pwfile"

  local attempt
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    if as_user "$user" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >&2; then
      break
    fi
    log "start on port $port failed (attempt $attempt)"
    port=""
  done
  if [[ -z "$port" ]]; then
    cat "$dir/server.log" >&2 || true
    exit 1
  fi

  local ready=""
  for attempt in $(seq 1 60); do
    if PGPASSWORD=$password psql -h 127.0.0.1 -p "$port" -U "$pg_user" -d postgres \
      -qAtc 'select 1' >/dev/null 2>&1; then
      ready=1
      break
    fi
    sleep 0.5
  done
  if [[ -z "$ready" ]]; then
    log "the server does not accept connections"
    cat "$dir/server.log" >&2 || true
    exit 1
  fi
  PGPASSWORD=$password psql -h 127.0.0.1 -p "$port" -U "$pg_user" -d postgres -qc \
    "create database $database" >&2

  echo "export VELQUARN_PG_HOST=127.0.0.1"
  echo "export VELQUARN_PG_PORT=$port"
  echo "export VELQUARN_PG_DATABASE=$database"
  echo "export VELQUARN_PG_USER=$pg_user"
  echo "export VELQUARN_PG_PASSWORD=$password"
  echo "export VELQUARN_PG_DIR=$dir"
  log "ready on 127.0.0.1:$port"
}

stop() {
  local dir=${VELQUARN_PG_DIR:-}
  if [[ -z "$dir" || ! -d "$dir" ]]; then
    log "VELQUARN_PG_DIR is not set or not a folder; nothing to stop"
    return 0
  fi
  local bin user
  bin=$(find_bin) || { log "pg_ctl not found"; exit 1; }
  user=$(stat -c %U "$dir")
  if [[ -f "$dir/data/postmaster.pid" ]]; then
    as_user "$user" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >&2 || true
  fi
  rm -rf "$dir"
  log "stopped and removed $dir"
}

halt() {
  local dir=${VELQUARN_PG_DIR:?VELQUARN_PG_DIR is not set} bin user
  bin=$(find_bin) || { log "pg_ctl not found"; exit 1; }
  user=$(stat -c %U "$dir")
  as_user "$user" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >&2
  log "halted the cluster in $dir"
}

resume() {
  local dir=${VELQUARN_PG_DIR:?VELQUARN_PG_DIR is not set} port=${VELQUARN_PG_PORT:?} bin user
  bin=$(find_bin) || { log "pg_ctl not found"; exit 1; }
  user=$(stat -c %U "$dir")
  if ! as_user "$user" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >&2; then
    tail -n 20 "$dir/server.log" >&2 || true
    exit 1
  fi
  log "resumed the cluster in $dir on port $port"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  halt) halt ;;
  resume) resume ;;
  *)
    echo "usage: $0 start|stop|halt|resume" >&2
    exit 2
    ;;
esac
