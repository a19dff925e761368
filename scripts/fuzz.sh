#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for SECONDS (default 30),
# starting from its seed corpus in tests/fuzz/corpus/<target>, two at a time
# (VELQUARN_FUZZ_JOBS). Then runs the protocol fuzzer
# (tests/protocol_fuzz/protocol_fuzz.py) for VELQUARN_PROTOCOL_FUZZ_SECONDS
# (default SECONDS) against the same
# build's instrumented velquarn binary, on SQLite and, when VELQUARN_PG_*
# names a running cluster, PostgreSQL. Prints each target's executions and
# coverage; exits non-zero on a finding:
#   a libFuzzer target leaves the input in the build folder's artifacts/,
#   to replay with  build-fuzz/tests/fuzz/<target>_fuzz build-fuzz/artifacts/<file>
#   the protocol fuzzer leaves a JSON file there, to replay with
#   tests/protocol_fuzz/protocol_fuzz.py --binary build-fuzz/src/service/velquarn \
#     --replay build-fuzz/artifacts/protocol-finding-<seed>-<burst>.json
#
# VELQUARN_PROTOCOL_FUZZ_BINARY names another instrumented service binary
# for the protocol fuzzer (CI gives it the AddressSanitizer build's, which
# it has built anyway); the clang build of the service is then not made.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   (targets without _fuzz: cp1252;
#                                            "protocol" is the protocol fuzzer)
#
# New inputs that reach new code are kept in the build folder's corpus/, so a
# later run goes on from there; copy the useful ones into the seed corpus.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-30}"
shift || true
build="${VELQUARN_FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${VELQUARN_FUZZ_JOBS:-2}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELQUARN_WERROR=ON \
  -DCMAKE_CXX_COMPILER=clang++ -DVELQUARN_FUZZ=ON -DVELQUARN_LOGIN_GTK=OFF \
  -DCMAKE_UNITY_BUILD="${VELQUARN_UNITY_BUILD:-ON}" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/tests/fuzz/*_fuzz.cpp; do
    name="$(basename "$source" .cpp)"
    targets+=("${name%_fuzz}")
  done
  targets+=(protocol)
fi

build_targets=()
for target in "${targets[@]}"; do
  if [ "$target" = protocol ]; then
    [ -n "${VELQUARN_PROTOCOL_FUZZ_BINARY:-}" ] || build_targets+=(velquarn)
  else
    build_targets+=("${target}_fuzz")
  fi
done
if [ ${#build_targets[@]} -gt 0 ]; then
  cmake --build "$build" --target "${build_targets[@]}" -j "${VELQUARN_JOBS:-2}"
fi
server_binary="${VELQUARN_PROTOCOL_FUZZ_BINARY:-$build/src/service/velquarn}"

# verify_asan_link_order=0: g++ links the runtime dynamically, after the
# preloaded library of the protocol fuzzer.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:verify_asan_link_order=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
mkdir -p "$build/artifacts"

# Runs one libFuzzer target; its log is the build folder's artifacts/<target>.log.
run_target() {
  local target=$1
  local corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/${target}-" \
    "$corpus" "$root/tests/fuzz/corpus/$target" >"$build/artifacts/$target.log" 2>&1
}

# The protocol fuzzer: the server keeps the ODBC libraries loaded to the end,
# so that what they hold at exit is reachable (tests/sanitizers).
run_protocol() {
  local preload="$build/keep_loaded.so"
  cc -shared -fPIC -O2 -o "$preload" "$root/tests/sanitizers/keep_loaded.c"
  python3 "$root/tests/protocol_fuzz/protocol_fuzz.py" --binary "$server_binary" \
    --seconds "${VELQUARN_PROTOCOL_FUZZ_SECONDS:-$seconds}" --findings "$build/artifacts" --preload "$preload" \
    --lsan-suppressions "$root/tests/sanitizers/lsan.supp" >"$build/artifacts/protocol.log" 2>&1
}

report() {
  local target=$1 status=$2 log="$build/artifacts/$1.log"
  if [ "$target" = protocol ] && [ "$status" -eq 3 ]; then
    tail -n 20 "$log"
    echo "fuzz: the protocol fuzzer saw a stall (a session slower than its deadline)" >&2
    return 3
  fi
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz: $target found a fault; its input is in $build/artifacts/" >&2
    return 1
  fi
  if [ "$target" = protocol ]; then
    printf '%-16s %s\n' "$target" "$(sed -n 's/^protocol_fuzz: \([0-9]* bursts.*\)/\1/p' "$log")"
    return 0
  fi
  local runs cov
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)"
  printf '%-16s %12s %10s %8s\n' "$target" "$runs" "$((runs / (seconds > 0 ? seconds : 1)))" "$cov"
}

printf '%-16s %12s %10s %8s\n' target executions exec/s cov
# The exit status: 1 for any finding, else 3 for stalls only, else 0.
failed=0
record() {
  if [ "$1" -eq 3 ]; then
    [ "$failed" -ne 0 ] || failed=3
  else
    failed=1
  fi
}
running=()
for target in "${targets[@]}"; do
  if [ "$target" = protocol ]; then
    run_protocol &
  else
    run_target "$target" &
  fi
  running+=("$!:$target")
  if [ ${#running[@]} -ge "$jobs" ]; then
    entry=${running[0]}
    running=("${running[@]:1}")
    status=0
    wait "${entry%%:*}" || status=$?
    report "${entry#*:}" "$status" || record $?
  fi
done
for entry in "${running[@]}"; do
  status=0
  wait "${entry%%:*}" || status=$?
  report "${entry#*:}" "$status" || record $?
done
exit "$failed"
