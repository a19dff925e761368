#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every
# test. The private PostgreSQL cluster runs for the duration of the tests
# when scripts/postgres.sh is present.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install_deps.sh

build="${VELQUARN_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELQUARN_WERROR=ON
cmake --build "$build"

if [ -x "$root/scripts/postgres.sh" ]; then
  trap '"$root/scripts/postgres.sh" stop || true' EXIT
  eval "$("$root/scripts/postgres.sh" start)"
fi

# The library must also build and pass without the optional GTK dialog; the
# dataset tests then exercise the headless login prompt.
nogtk="$build-nogtk"
cmake -S "$root" -B "$nogtk" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELQUARN_WERROR=ON \
  -DVELQUARN_LOGIN_GTK=OFF
cmake --build "$nogtk" --target velquarn dataset_tests
"$nogtk/tests/dataset_tests" --gtest_brief=1

cd "$build"
# One test at a time: tests of different programs share the PostgreSQL
# database and its table names.
ctest --output-on-failure
# The end-to-end suite once more with every session in a worker process
# (Settings/Isolation=process): both modes must pass it.
VELQUARN_E2E_ISOLATION=process "$build/tests/e2e_tests" --gtest_brief=1

# What `cmake --install` and the Debian package deliver, and the unit.
"$root/scripts/install_test.sh" "$build"

# The clients: the Python module against the real binary (SQLite, and
# PostgreSQL while the cluster runs), and the README's try-it lines.
"$root/scripts/python_client_test.sh" "$build"
"$root/scripts/readme_test.sh" "$build"

# The reliability checks (README: Fuzzing, sanitizers and soak) take longer
# than this run may on two cores: scripts/fuzz.sh and scripts/sanitize.sh
# run them on their own.
