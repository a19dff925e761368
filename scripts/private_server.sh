# Shared by the scripts that run a private database server for the tests
# and benchmarks (postgres.sh, mariadb.sh, bench/run_all.sh); sourced, not
# run.

# A port that nothing on loopback answers on; a caller retries with another
# should the choice race with someone. It lies below the kernel's range of
# local ports for outgoing connections: while a server is halted for an
# outage test, the gateway keeps connecting to its port, and a connection
# whose local port happens to be that very port connects to itself and
# holds it, so the server could not start again. (With an unusually low
# range, any port from 10000 up.)
free_port() {
  local port low
  low=$(cut -f1 /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || echo 32768)
  [ "$low" -gt 12000 ] || low=60000
  while true; do
    port=$((10000 + RANDOM % (low - 10000)))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
}

# The account a server runs as: the caller's own, or as root (which the
# servers refuse) the distribution's account NATIVE when it exists, else a
# system account FALLBACK made for the purpose.
#   server_user NATIVE FALLBACK
server_user() {
  local native=$1 fallback=$2
  if [[ $(id -u) -ne 0 ]]; then
    id -un
    return
  fi
  if id "$native" >/dev/null 2>&1; then
    echo "$native"
    return
  fi
  if ! id "$fallback" >/dev/null 2>&1; then
    useradd --system --no-create-home --shell /bin/sh "$fallback" >&2
  fi
  echo "$fallback"
}

# Runs a command as the server's account (directly when not root).
#   as_user USER COMMAND...
as_user() {
  local user=$1
  shift
  if [[ $(id -u) -ne 0 ]]; then
    "$@"
  elif command -v runuser >/dev/null; then
    runuser -u "$user" -- "$@"
  else
    su -s /bin/sh "$user" -c "$(printf '%q ' "$@")"
  fi
}
