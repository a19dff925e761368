#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Velquarn
# need (prometheus: promtool and the server the metrics tests scrape with).
# Uses sudo when not run as root; does nothing when all are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev
  unixodbc unixodbc-dev odbcinst libsqliteodbc odbc-postgresql
  postgresql
  mariadb-server odbc-mariadb
  libcurl4-openssl-dev libssl-dev openssl
  xvfb libgtk-3-dev
  sqlite3
  lintian systemd man-db
  libedit-dev tmux
  haproxy
  prometheus
  python3 python3-venv python3-pip python3-pandas
  clang libclang-rt-14-dev nlohmann-json3-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install_deps: every package is present"
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi

echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
