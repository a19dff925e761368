#!/usr/bin/env bash
# Installs the Python client with pip into a virtual environment of the
# system's python3 (which sees Debian's pandas) and runs its unittest suite
# against the real binary: SQLite always, PostgreSQL when VELQUARN_PG_* is
# set. The tests run from a copy of the test folder, so they import the
# installed package, not the source tree.
#   scripts/python_client_test.sh BUILD_DIR
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
python=/usr/bin/python3

venv="$build/python-venv"
if [ ! -x "$venv/bin/pip" ]; then
  rm -rf "$venv"
  "$python" -m venv --system-site-packages "$venv"
fi
# The package builds with its own backend, so no index is needed.
"$venv/bin/pip" install --quiet --no-index --force-reinstall "$root/clients/python"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$root/clients/python/tests" "$work/velquarn_tests"
cd "$work"
VELQUARN_BINARY="$build/src/service/velquarn" VELQUARN_REQUIRE_PANDAS=1 \
  "$venv/bin/python" -m unittest discover -s velquarn_tests -t . -v 2>&1 | tee "$work/log"
# unittest's closing line is "OK" or "FAILED (...)"; say it in the form CI reads.
passed=$(grep -c '\.\.\. ok$' "$work/log" || true)
failed=$(grep -cE '\.\.\. (FAIL|ERROR)$' "$work/log" || true)
skipped=$(grep -c '\.\.\. skipped' "$work/log" || true)
echo "python client: $passed passed, $failed failed, $skipped skipped"
grep -q '^OK' "$work/log"
