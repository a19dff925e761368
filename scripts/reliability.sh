#!/usr/bin/env bash
# The reliability checks of the CI run, each step timed and each failing the
# script on a finding (README: Fuzzing, sanitizers and soak):
#   fuzz       every libFuzzer target FUZZ_SECONDS (30), two at a time, and
#              the protocol fuzzer PROTOCOL_SECONDS (120)    scripts/fuzz.sh
#   sanitize   the AddressSanitizer + UndefinedBehaviorSanitizer build with
#              the test suite, the ThreadSanitizer build with the protocol,
#              service and concurrency tests                scripts/sanitize.sh
#   soak       SOAK_SECONDS (120) of 200 clients with a 20 s PostgreSQL
#              outage                                       scripts/soak.sh
#
#   scripts/reliability.sh [STEP...]    (default: fuzz sanitize soak)
#
# The fuzz and sanitize steps use the PostgreSQL cluster that VELQUARN_PG_*
# names, when one runs; the soak starts a private one of its own, since it
# stops it for the outage.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(fuzz sanitize soak)

timings=()
for step in "${steps[@]}"; do
  started=$SECONDS
  case "$step" in
    fuzz)
      VELQUARN_PROTOCOL_FUZZ_SECONDS="${PROTOCOL_SECONDS:-120}" \
        "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-30}"
      ;;
    sanitize)
      "$root/scripts/sanitize.sh" address thread
      ;;
    soak)
      (
        unset VELQUARN_PG_HOST VELQUARN_PG_PORT VELQUARN_PG_DATABASE VELQUARN_PG_USER \
          VELQUARN_PG_PASSWORD VELQUARN_PG_DIR
        "$root/scripts/soak.sh" "${SOAK_SECONDS:-120}" 200 40 20
      )
      ;;
    *)
      echo "reliability: unknown step '$step' (fuzz, sanitize or soak)" >&2
      exit 2
      ;;
  esac
  timings+=("$step $((SECONDS - started)) s")
  echo "reliability: $step passed in $((SECONDS - started)) s"
done
printf 'reliability: %s\n' "${timings[@]}"
