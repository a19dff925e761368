#!/usr/bin/env bash
# The reliability checks of the CI run, each step timed:
#   fuzz       every libFuzzer target FUZZ_SECONDS (30), two at a time
#                                                           scripts/fuzz.sh
#   protocol   the protocol fuzzer PROTOCOL_SECONDS (120)   scripts/fuzz.sh
#   sanitize   the AddressSanitizer + UndefinedBehaviorSanitizer build with
#              the test suite, the ThreadSanitizer build with the protocol,
#              service and concurrency tests                scripts/sanitize.sh
#   soak       SOAK_SECONDS (120) of 200 clients with a 20 s PostgreSQL
#              outage                                       scripts/soak.sh
#
#   scripts/reliability.sh [STEP...]    (default: fuzz protocol sanitize soak)
#
# fuzz and sanitize fail the script on a finding. protocol and soak have
# open findings that a loaded machine brings out (a session stalled inside
# a driver's upload; resident memory more than 10 % above its start after a
# soak): they print their report and a finding, which must be looked at,
# but do not fail the run until those are settled.
#
# The fuzz and sanitize steps use the PostgreSQL cluster that VELQUARN_PG_*
# names, when one runs; the soak starts a private one of its own, since it
# stops it for the outage.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(fuzz protocol sanitize soak)

targets=()
for source in "$root"/tests/fuzz/*_fuzz.cpp; do
  name="$(basename "$source" .cpp)"
  targets+=("${name%_fuzz}")
done

# A step with an open finding: its failure is reported, not raised.
reporting() {
  if ! "$@"; then
    echo "reliability: FINDING in '$*' (an open one; not failing this run)" >&2
  fi
}

timings=()
for step in "${steps[@]}"; do
  started=$SECONDS
  case "$step" in
    fuzz)
      "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-30}" "${targets[@]}"
      ;;
    protocol)
      reporting "$root/scripts/fuzz.sh" "${PROTOCOL_SECONDS:-120}" protocol
      ;;
    sanitize)
      "$root/scripts/sanitize.sh" address thread
      ;;
    soak)
      (
        unset VELQUARN_PG_HOST VELQUARN_PG_PORT VELQUARN_PG_DATABASE VELQUARN_PG_USER \
          VELQUARN_PG_PASSWORD VELQUARN_PG_DIR
        reporting "$root/scripts/soak.sh" "${SOAK_SECONDS:-120}" 200 40 20
      )
      ;;
    *)
      echo "reliability: unknown step '$step' (fuzz, protocol, sanitize or soak)" >&2
      exit 2
      ;;
  esac
  timings+=("$step $((SECONDS - started)) s")
  echo "reliability: $step done in $((SECONDS - started)) s"
done
printf 'reliability: %s\n' "${timings[@]}"
