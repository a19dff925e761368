#!/usr/bin/env bash
# Checks what an operator or a packager gets from a finished build:
# `cmake --install` into a temporary prefix (the file list and modes), a
# small outside program built against the installed client library through
# pkg-config and through find_package and run against the installed
# service, the Debian package (lintian, dpkg-deb --contents) and the
# systemd unit (systemd-analyze verify and security, when available).
#
# Usage: scripts/install_test.sh [BUILD_DIR]   (default $VELQUARN_BUILD_DIR or build/)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-${VELQUARN_BUILD_DIR:-$root/build}}" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/velquarn-install.XXXXXX")"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "install_test: $*"; }
fail() {
  echo "install_test: FAILED: $*" >&2
  exit 1
}

prefix="$work/prefix"
step "cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

expected="bin/velquarn
bin/velquarn-cli
etc/velquarn/velquarn.ini
include/velquarn/client/client_value.h
include/velquarn/client/decode_error.h
include/velquarn/client/field_defs.h
include/velquarn/client/json_row_decoder.h
include/velquarn/client/result_reader.h
include/velquarn/client/row_decoder.h
include/velquarn/client/velquarn_client.h
include/velquarn/common/exceptions.h
include/velquarn/tls/tls_context.h
include/velquarn/tls/tls_stream.h
lib/cmake/Velquarn/VelquarnConfig.cmake
lib/cmake/Velquarn/VelquarnConfigVersion.cmake
lib/cmake/Velquarn/VelquarnTargets-CONFIG.cmake
lib/cmake/Velquarn/VelquarnTargets.cmake
lib/libvelquarn_client.a
lib/libvelquarn_common.a
lib/libvelquarn_tls.a
lib/pkgconfig/velquarn-client.pc
lib/systemd/system/velquarn.service
share/doc/velquarn/changelog.gz
share/doc/velquarn/copyright
share/man/man5/velquarn.ini.5.gz
share/man/man8/velquarn.8.gz"
actual="$(cd "$prefix" && find . -type f | sed 's|^\./||; s|VelquarnTargets-.*\.cmake|VelquarnTargets-CONFIG.cmake|' | sort)"
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "installed files differ from the list above (< expected, > installed)"
fi
[ "$(stat -c %a "$prefix/etc/velquarn/velquarn.ini")" = 640 ] || fail "velquarn.ini is not mode 0640"
"$prefix/bin/velquarn" --version | grep -q '^velquarn ' || fail "velquarn --version"
"$prefix/bin/velquarn" --check-config --config "$prefix/etc/velquarn/velquarn.ini" >"$work/check.txt" ||
  fail "the sample configuration does not pass --check-config: $(cat "$work/check.txt")"
grep -q '^ListenAddress=127.0.0.1' "$prefix/etc/velquarn/velquarn.ini" || fail "sample does not listen on 127.0.0.1"

# The installed service on a free loopback port, for the outside program.
port=""
for _ in $(seq 20); do
  candidate=$((20000 + RANDOM % 30000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    port=$candidate
    break
  fi
done
[ -n "$port" ] || fail "no free port"
printf '[Settings]\nPort=%s\n' "$port" >"$work/service.ini"
"$prefix/bin/velquarn" --config "$work/service.ini" --event-log "$work/events.log" &
server_pid=$!
for _ in $(seq 100); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
  sleep 0.1
done

mkdir -p "$work/outside"
cat >"$work/outside/main.cpp" <<'CPP'
// An outside program that uses the installed client library.
#include <cstdlib>
#include <iostream>

#include "client/velquarn_client.h"
#include "common/exceptions.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  try {
    velquarn::TVelquarnClient client;
    velquarn::TClientReply greeting = client.Open("127.0.0.1", static_cast<uint16_t>(std::atoi(argv[1])));
    velquarn::TClientReply test = client.Command("test");
    std::cout << greeting.Code << " " << test.Code << "\n";
    return test.Code == 200 ? 0 : 1;
  } catch (const velquarn::Exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
}
CPP
cat >"$work/outside/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(outside LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(Velquarn 2 REQUIRED)
add_executable(outside main.cpp)
target_link_libraries(outside PRIVATE Velquarn::client)
CMAKE

step "outside program through pkg-config"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# shellcheck disable=SC2046
g++ -std=c++20 -o "$work/outside/by-pkg-config" "$work/outside/main.cpp" \
  $(pkg-config --cflags --libs velquarn-client)
[ "$("$work/outside/by-pkg-config" "$port")" = "200 200" ] || fail "pkg-config program"

step "outside program through find_package"
cmake -S "$work/outside" -B "$work/outside/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/outside.log"
cmake --build "$work/outside/build" >>"$work/outside.log"
[ "$("$work/outside/build/outside" "$port")" = "200 200" ] || fail "find_package program"
kill "$server_pid"
wait "$server_pid" || fail "the installed service did not stop cleanly on SIGTERM"
server_pid=""

step "Debian package"
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  fail "cpack"
}
deb="$(ls "$work"/package/velquarn_*.deb)"
contents="$(dpkg-deb --contents "$deb")"
for entry in "-rw-r----- root/root .* ./etc/velquarn/velquarn.ini" \
  "-rwxr-xr-x root/root .* ./usr/bin/velquarn" \
  "-rw-r--r-- root/root .* ./lib/systemd/system/velquarn.service" \
  "-rw-r--r-- root/root .* ./usr/share/man/man8/velquarn.8.gz" \
  "-rw-r--r-- root/root .* ./usr/share/man/man5/velquarn.ini.5.gz" \
  "-rw-r--r-- root/root .* ./usr/lib/pkgconfig/velquarn-client.pc" \
  "-rw-r--r-- root/root .* ./usr/lib/cmake/Velquarn/VelquarnConfig.cmake" \
  "-rw-r--r-- root/root .* ./usr/include/velquarn/client/velquarn_client.h"; do
  grep -qE -- "^$entry\$" <<<"$contents" || fail "package lacks $entry"
done
# Read whole before grep -q looks: grep leaving at the first match would
# end the writer with SIGPIPE, which pipefail takes for a failure.
info="$(dpkg-deb --info "$deb")"
grep -q 'conffiles' <<<"$info" || fail "package has no conffiles"
postinst="$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst)"
grep -q 'adduser --system' <<<"$postinst" || fail "postinst does not create the velquarn user"
if command -v lintian >/dev/null; then
  lintian --fail-on error --suppress-tags non-standard-file-perm "$deb" 2>&1 | grep -v 'root privileges' || true
  lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
else
  step "lintian not installed; package not linted"
fi

unit="$prefix/lib/systemd/system/velquarn.service"
if command -v systemd-analyze >/dev/null; then
  step "systemd-analyze verify and security"
  # Documentation= names the manual pages, which man finds in the prefix.
  MANPATH="$prefix/share/man:" systemd-analyze verify "$unit" 2>&1 | tee "$work/verify.txt"
  [ ! -s "$work/verify.txt" ] || fail "systemd-analyze verify reports problems"
  score="$(systemd-analyze security --offline=true "$unit" 2>/dev/null |
    sed -n 's/.*Overall exposure level for velquarn.service: \([0-9.]*\).*/\1/p')"
  [ -n "$score" ] || fail "no exposure level from systemd-analyze security"
  step "exposure level $score"
  awk -v s="$score" 'BEGIN { exit !(s <= 4.0) }' || fail "exposure level $score is above 4.0"
else
  step "systemd-analyze not installed; unit not checked"
fi
step "passed"
