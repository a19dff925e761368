#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for SECONDS (default 30),
# starting from its seed corpus in tests/fuzz/corpus/<target>. Prints each
# target's executions and coverage; exits non-zero on the first finding,
# whose input is left in the build folder's artifacts/ to replay with
#   build-fuzz/tests/fuzz/<target>_fuzz build-fuzz/artifacts/<file>
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]    (targets without _fuzz: cp1252)
#
# New inputs that reach new code are kept in the build folder's corpus/, so a
# later run goes on from there; copy the useful ones into the seed corpus.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-30}"
shift || true
build="${VELQUARN_FUZZ_BUILD_DIR:-$root/build-fuzz}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELQUARN_WERROR=ON \
  -DCMAKE_CXX_COMPILER=clang++ -DVELQUARN_FUZZ=ON -DVELQUARN_LOGIN_GTK=OFF >/dev/null
cmake --build "$build" --target fuzz_targets -j "${VELQUARN_JOBS:-2}"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/tests/fuzz/*_fuzz.cpp; do
    name="$(basename "$source" .cpp)"
    targets+=("${name%_fuzz}")
  done
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
mkdir -p "$build/artifacts"
printf '%-16s %12s %10s %8s\n' target executions exec/s cov
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  log="$build/artifacts/$target.log"
  if ! "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/${target}-" \
      "$corpus" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $target found a fault; its input is in $build/artifacts/" >&2
    exit 1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)"
  printf '%-16s %12s %10s %8s\n' "$target" "$runs" "$((runs / (seconds > 0 ? seconds : 1)))" "$cov"
done
