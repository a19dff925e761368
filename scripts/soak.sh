#!/usr/bin/env bash
# The soak and outage run (tests/soak/soak.cpp) against the release build:
# CLIENTS clients for SECONDS on SQLite and PostgreSQL, with PostgreSQL
# stopped at OUTAGE_AFTER for OUTAGE_SECONDS (0: no outage). Starts a private
# PostgreSQL cluster unless VELQUARN_PG_* names one already.
#
#   scripts/soak.sh [SECONDS [CLIENTS [OUTAGE_AFTER [OUTAGE_SECONDS]]]]
#                   (defaults 120 200 40 20; CI runs the default)
#
# For a long soak: scripts/soak.sh 3600 200 1200 60
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-120}"
clients="${2:-200}"
outage_after="${3:-40}"
outage_seconds="${4:-20}"
build="${VELQUARN_BUILD_DIR:-$root/build}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELQUARN_WERROR=ON >/dev/null
cmake --build "$build" -j "${VELQUARN_JOBS:-2}" --target velquarn soak

if [ -z "${VELQUARN_PG_DIR:-}" ]; then
  trap '"$root/scripts/postgres.sh" stop || true' EXIT
  eval "$("$root/scripts/postgres.sh" start)"
fi

"$build/tests/soak/soak" --seconds "$seconds" --clients "$clients" \
  --outage-after "$outage_after" --outage-seconds "$outage_seconds"
