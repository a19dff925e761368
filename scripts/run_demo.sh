#!/usr/bin/env bash
# Installs what is missing, builds Velquarn (Release), writes a sample
# configuration with a SQLite database section "demo" and runs the gateway
# in the foreground on 127.0.0.1 port 8888. Stop it with Ctrl+C.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install_deps.sh

build="${VELQUARN_BUILD_DIR:-$root/build-release}"
# A build folder that is already configured keeps its build type.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target velquarn velquarn-cli

run="$build/demo"
mkdir -p "$run"

if [ ! -f "$run/demo.db" ]; then
  if command -v sqlite3 >/dev/null; then
    sqlite3 "$run/demo.db" <<'SQL'
CREATE TABLE customer (id INTEGER PRIMARY KEY, name VARCHAR(40), city VARCHAR(40), balance NUMERIC(12,2));
INSERT INTO customer VALUES (1, 'Ada Lindqvist', 'Malmö', 1520.50);
INSERT INTO customer VALUES (2, 'Bo Ek', 'Lund', -20.00);
INSERT INTO customer VALUES (3, 'Carla Ruiz', 'Göteborg', 0);
SQL
  else
    echo "run_demo: sqlite3 not found; demo.db is created empty by the driver on first use"
  fi
fi

# An existing configuration is kept, so edits survive the next run.
if [ ! -f "$run/velquarn.ini" ]; then
  cat > "$run/velquarn.ini" <<INI
[Settings]
Port=8888
IPV6=0
MaxDateDiff=3
UpdateURL=
; Listen on loopback only; list further addresses (IPv4 or IPv6) with commas,
; or * for every address.
ListenAddress=127.0.0.1
; Peers that may connect (addresses and CIDR ranges); empty: everyone.
AllowFrom=127.0.0.0/8, ::1
; Peers that may read and replace this file with sys getconfig / setconfig.
AdminFrom=127.0.0.1
ConfigCommands=1
; Behind a load balancer that sends the PROXY protocol header, the clients'
; own addresses count; only the balancers in ProxyFrom may connect
; (scripts/haproxy_demo.sh shows it).
ProxyProtocol=0
ProxyFrom=
; TLS on a second port: TLSPort=8889 with TLSCertificate= and TLSKey= (PEM);
; TLSClientCA= makes clients present certificates. 0: off.
TLSPort=0
; Connection limits: in all, per client address (0: no limit), seconds
; without a command before a connection is closed (0: never).
MaxConnections=2000
MaxConnectionsPerAddress=200
IdleTimeout=0
; Seconds a stop (Ctrl+C) lets running commands finish (0: close at once),
; and statements slower than this many milliseconds are logged (0: off).
ShutdownGraceSec=0
SlowQueryMs=1000
; The most one session's result may hold in the gateway, in MiB (0: no limit).
MaxResultMB=0
; The next rows of a result are fetched while the client reads (0: only
; when asked).
ReadAhead=1
; Prometheus metrics (GET /metrics) and a JSON status page (GET /status).
MetricsAddress=127.0.0.1:9188
; Every session in a worker process of its own, so a driver that crashes or
; hangs costs one client; a statement running HardTimeoutSec past its
; QueryTimeout has its worker killed (0: never).
;Isolation=process
;HardTimeoutSec=60

[CustomData]
Owner=Velquarn demo

[demo]
DriverName=SQLite3
DriverParams=Database=$run/demo.db,StepAPI=1
LoginTimeout=30
QueryTimeout=30
ServerTimeZone=0
Charset=UTF-8
; A database that needs a password: keep it in a file only the service user
; may read (chmod 600), relative to this folder or to systemd's
; \$CREDENTIALS_DIRECTORY, rather than scrambled in Password=.
;[sales]
;DSN=sales
;Username=gateway
;PasswordFile=sales.pw
; A MariaDB or MySQL server. NO_CACHE=1 with FORWARDONLY=1 streams a
; result instead of reading it whole into memory (driver 3.1.17 and later),
; but holds the connection (and the statement's locks) until the client
; reads it to the end or clears it. OPTION=2 (FOUND_ROWS): an update counts
; the rows it matched, not only those it changed.
;[shop]
;DriverName=MariaDB Unicode
;DriverParams=Server=127.0.0.1,Port=3306,Database=shop,OPTION=2,NO_CACHE=1,FORWARDONLY=1
;Username=gateway
;PasswordFile=shop.pw
INI
fi

# scripts/haproxy_demo.sh uses the build and the database, not this gateway.
if [ "${VELQUARN_DEMO_PREPARE_ONLY:-0}" = 1 ]; then exit 0; fi

echo "run_demo: configuration $run/velquarn.ini"
echo "run_demo: Velquarn listens on port 8888; try: $build/src/cli/velquarn-cli -d demo"
exec "$build/src/service/velquarn" --config "$run/velquarn.ini" --event-log /dev/stderr
