#!/usr/bin/env bash
# A private MariaDB server for the tests.
#
#   eval "$(scripts/mariadb.sh start)"    install what is missing, initialise
#                                         a data folder in a temporary folder,
#                                         start the server on a free loopback
#                                         port and print the VELQUARN_MY_*
#                                         exports
#   scripts/mariadb.sh stop               stop the server named by
#                                         VELQUARN_MY_DIR and remove its folder
#
# Only the export lines go to standard output; everything else goes to
# standard error. No system service is started or touched: the server runs
# from the temporary folder (data, socket, pid file, log). As root, it runs
# as the unprivileged user "mysql" (or "velquarn-my", created when needed),
# which owns the folder.
set -euo pipefail

log() { echo "mariadb.sh: $*" >&2; }

# free_port, server_user, as_user
source "$(dirname "${BASH_SOURCE[0]}")/private_server.sh"

install_missing() {
  local missing=() package
  for package in mariadb-server odbc-mariadb; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  local sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  log "installing ${missing[*]}"
  "${sudo[@]}" apt-get update >&2
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}" >&2
}

find_server() {
  local name
  for name in mariadbd mysqld; do
    if command -v "$name" >/dev/null; then
      command -v "$name"
      return 0
    fi
    if [[ -x "/usr/sbin/$name" ]]; then
      echo "/usr/sbin/$name"
      return 0
    fi
  done
  return 1
}

find_tool() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null; then
      command -v "$name"
      return 0
    fi
  done
  return 1
}

# The client as the server's superuser over the private socket: root when
# run as root, otherwise the account mariadb-install-db made for the user
# (both authenticated by the socket's peer, no password).
admin() {
  local dir=$1 account=root
  shift
  [[ $(id -u) -ne 0 ]] && account=$(id -un)
  "$(find_tool mariadb mysql)" --no-defaults --protocol=socket --socket="$dir/mysqld.sock" \
    -u"$account" "$@"
}

start() {
  install_missing
  local server install_db user dir port database=velquarn_test my_user=velquarn password
  server=$(find_server) || { log "mariadbd not found"; exit 1; }
  install_db=$(find_tool mariadb-install-db mysql_install_db) ||
    { log "mariadb-install-db not found"; exit 1; }
  user=$(server_user mysql velquarn-my)
  dir=$(mktemp -d "${TMPDIR:-/tmp}/velquarn-my.XXXXXX")
  chmod 755 "$dir"
  password="pw$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
  if [[ $(id -u) -eq 0 ]]; then
    chown -R "$user" "$dir"
  fi

  log "initialising a data folder in $dir as $user"
  # --auth-root-authentication-method=socket: root logs in over the private
  # socket as the server's user only; the tests use their own account.
  as_user "$user" "$install_db" --no-defaults --datadir="$dir/data" --user="$user" \
    --auth-root-authentication-method=socket --skip-test-db >"$dir/install.log" 2>&1 ||
    { cat "$dir/install.log" >&2; exit 1; }

  local attempt ready=""
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    # Started detached; the pid file tells stop which process to end. The
  # tests fill tables with recursive queries of up to 200 000 steps, past
  # the server's default limit of 1000 iterations.
    as_user "$user" "$server" --no-defaults --datadir="$dir/data" --socket="$dir/mysqld.sock" \
      --pid-file="$dir/mysqld.pid" --log-error="$dir/server.log" --port="$port" \
      --bind-address=127.0.0.1 --skip-networking=0 --user="$user" \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
      --innodb-buffer-pool-size=32M --innodb-log-file-size=8M --innodb-flush-log-at-trx-commit=0 \
      --skip-log-bin --max-connections=300 --max-recursive-iterations=1000000 \
      </dev/null >/dev/null 2>&1 &
    local i
    for i in $(seq 1 120); do
      if admin "$dir" -e 'select 1' >/dev/null 2>&1; then
        ready=1
        break
      fi
      sleep 0.25
    done
    [[ -n "$ready" ]] && break
    log "start on port $port failed (attempt $attempt)"
    if [[ -f "$dir/mysqld.pid" ]]; then kill "$(cat "$dir/mysqld.pid")" 2>/dev/null || true; fi
    sleep 1
  done
  if [[ -z "$ready" ]]; then
    cat "$dir/server.log" >&2 || true
    exit 1
  fi
  # The account, with a password, for TCP from 127.0.0.1 (which the server
  # may resolve to localhost). It sees and may KILL its own sessions only.
  admin "$dir" <<SQL
create database $database character set utf8mb4;
create user '$my_user'@'127.0.0.1' identified by '$password';
create user '$my_user'@'localhost' identified by '$password';
grant all on $database.* to '$my_user'@'127.0.0.1';
grant all on $database.* to '$my_user'@'localhost';
SQL

  echo "export VELQUARN_MY_HOST=127.0.0.1"
  echo "export VELQUARN_MY_PORT=$port"
  echo "export VELQUARN_MY_DATABASE=$database"
  echo "export VELQUARN_MY_USER=$my_user"
  echo "export VELQUARN_MY_PASSWORD=$password"
  echo "export VELQUARN_MY_DIR=$dir"
  log "ready on 127.0.0.1:$port"
}

stop() {
  local dir=${VELQUARN_MY_DIR:-}
  if [[ -z "$dir" || ! -d "$dir" ]]; then
    log "VELQUARN_MY_DIR is not set or not a folder; nothing to stop"
    return 0
  fi
  if [[ -f "$dir/mysqld.pid" ]]; then
    local pid i
    pid=$(cat "$dir/mysqld.pid")
    kill "$pid" 2>/dev/null || true
    for i in $(seq 1 120); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.25
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
  log "stopped and removed $dir"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
