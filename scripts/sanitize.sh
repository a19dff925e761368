#!/usr/bin/env bash
# The sanitizer builds and their test runs:
#   address   AddressSanitizer + UndefinedBehaviorSanitizer (g++): every unit
#             test program and the end-to-end tests, which start the build's
#             own instrumented velquarn binary. Leaks are reported; the
#             suppressions in tests/sanitizers/lsan.supp cover only what
#             the ODBC driver manager and drivers leak by themselves.
#   thread    ThreadSanitizer (g++): the protocol tests (the command server,
#             its connection threads, limits, timeouts and stop), the service
#             tests, and the end-to-end tests of concurrent connections,
#             limits, hostile clients and stopping against the build's own
#             instrumented velquarn binary.
#
#   scripts/sanitize.sh [address|thread]...   (default: both)
#
# The end-to-end tests use the private PostgreSQL cluster when VELQUARN_PG_*
# is set (scripts/test.sh starts it). The session-resource tests are left
# out: they take minutes even without a sanitizer, and their bound on resident
# memory (16 MiB over 5000 sessions) does not hold under AddressSanitizer,
# whose quarantine keeps freed memory by the hundred MiB; the plain test run
# has them.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${VELQUARN_JOBS:-2}"
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(address thread)

configure() {
  local build=$1 sanitize=$2
  # -O1 and line tables only: what the sanitizers' reports need, in less
  # than half the compile time of -O2 -g.
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELQUARN_WERROR=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DVELQUARN_SANITIZE="$sanitize" -DVELQUARN_LOGIN_GTK=OFF \
    -DCMAKE_UNITY_BUILD="${VELQUARN_UNITY_BUILD:-ON}" >/dev/null
}

run() {
  local program=$1
  shift
  echo "sanitize: $(basename "$program") $*"
  local started=$SECONDS
  "$program" --gtest_brief=1 "$@"
  echo "sanitize: $(basename "$program") passed in $((SECONDS - started)) s"
}

for kind in "${kinds[@]}"; do
  case "$kind" in
    address)
      build="${VELQUARN_ASAN_BUILD_DIR:-$root/build-asan}"
      configure "$build" address,undefined
      programs=(common dataset odbc protocol commands service client cli e2e)
      cmake --build "$build" -j "$jobs" --target velquarn velquarn-cli "${programs[@]/%/_tests}"
      # The driver manager and drivers stay loaded to the end (see
      # keep_loaded.c): what they hold is then reachable, not a leak.
      cc -shared -fPIC -O2 -o "$build/keep_loaded.so" "$root/tests/sanitizers/keep_loaded.c"
      export LD_PRELOAD="$build/keep_loaded.so"
      export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:verify_asan_link_order=0"
      export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
      export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
      for program in common dataset odbc protocol commands service client cli; do
        run "$build/tests/${program}_tests"
      done
      run "$build/tests/e2e_tests" --gtest_filter='-*SessionResources*'
      unset LD_PRELOAD ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
      ;;
    thread)
      build="${VELQUARN_TSAN_BUILD_DIR:-$root/build-tsan}"
      configure "$build" thread
      cmake --build "$build" -j "$jobs" --target velquarn protocol_tests service_tests e2e_tests
      export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/sanitizers/tsan.supp"
      run "$build/tests/protocol_tests"
      run "$build/tests/service_tests"
      # The server's threads under load: many connections at once, their
      # limits, hostile clients, leaving clients and the stop; TLS sessions
      # and handshakes, PROXY headers, the metrics endpoint and the rows read
      # ahead between commands. Process
      # isolation is left out: under this build a worker's session ends
      # early (open finding).
      run "$build/tests/e2e_tests" --gtest_filter="$(
        printf '%s:' '*CommandServer*' '*MaxConnections*' '*HostileClient*' '*GracefulStop*' \
          '*ServiceE2E*' '*ClientLeaving*' '*TlsE2E*' '*ProxyProtocolE2E*' '*MetricsE2E*' \
          '*ReadAheadE2E*')-*ProcessIsolation*"
      # The PostgreSQL driver calls setlocale() while it connects, which is
      # not thread-safe: in thread mode fifty clients connecting at once
      # make ThreadSanitizer report it. In process isolation each session
      # has a process of its own, and the same test must stay clean.
      VELQUARN_E2E_ISOLATION=process run "$build/tests/e2e_tests" \
        --gtest_filter='*SqlCommandsE2E.FiftyClientsAtOnceSeeOnlyTheirOwnData/PostgreSQL'
      unset TSAN_OPTIONS
      ;;
    *)
      echo "sanitize: unknown kind '$kind' (address or thread)" >&2
      exit 2
      ;;
  esac
done
