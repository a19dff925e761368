#!/usr/bin/env bash
# Runs the README's try-it lines as written: scripts/run_demo.sh serves the
# demo on port 8888 (with the already built BUILD_DIR), the batch line must
# print the demo's customer table, and the interactive line is driven
# through tmux (send-keys, capture-pane): the screen must show the same
# table, the history file must keep the typed line, and Ctrl+C must stop a
# long result without ending the session.
#   scripts/readme_test.sh BUILD_DIR
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
cd "$root"

# The try-it lines of the README, as written there.
mapfile -t lines < <(grep -E "^velquarn-cli -d demo" README.md)
if [ ${#lines[@]} -ne 2 ]; then
  echo "readme_test: expected two velquarn-cli lines in README.md, found ${#lines[@]}" >&2
  exit 1
fi
interactive_line="${lines[0]}"
batch_line="${lines[1]}"

work="$(mktemp -d)"
session="velquarn-readme-$$"
server_pid=""
cleanup() {
  tmux kill-session -t "$session" 2>/dev/null || true
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

VELQUARN_BUILD_DIR="$build" scripts/run_demo.sh > "$work/demo.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 600); do
  if (exec 3<>/dev/tcp/127.0.0.1/8888) 2>/dev/null; then break; fi
  if ! kill -0 "$server_pid" 2>/dev/null; then cat "$work/demo.log" >&2; exit 1; fi
  sleep 0.1
done

expected="$work/expected"
cat > "$expected" <<'TABLE'
 id | name          | city     | balance
----+---------------+----------+---------
  1 | Ada Lindqvist | Malmö    |  1520.5
  2 | Bo Ek         | Lund     |     -20
  3 | Carla Ruiz    | Göteborg |       0
(3 rows)
TABLE

export PATH="$build/src/cli:$PATH"
failures=0
passes=0
check() {
  if [ "$1" = ok ]; then passes=$((passes + 1)); echo "readme_test: ok: $2"
  else failures=$((failures + 1)); echo "readme_test: FAILED: $2" >&2; fi
}

# The batch form.
if bash -c "$batch_line" > "$work/batch.out" 2> "$work/batch.err" && diff -u "$expected" "$work/batch.out"; then
  check ok "$batch_line"
else
  cat "$work/batch.err" >&2
  check failed "$batch_line"
fi

# The interactive form, in a terminal of 100 x 30.
home="$work/home"
mkdir -p "$home"
tmux new-session -d -s "$session" -x 100 -y 30 \
  "env HOME=$home PATH=$PATH TERM=xterm LANG=C.UTF-8 bash --norc --noprofile"
wait_for() {
  for _ in $(seq 1 100); do
    if tmux capture-pane -p -t "$session" | grep -qF -- "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}
tmux send-keys -t "$session" "$interactive_line" Enter
wait_for "demo> " || true
tmux send-keys -t "$session" "select * from customer" Enter
wait_for "(3 rows)" || true
tmux capture-pane -p -t "$session" > "$work/screen"
if grep -qF -f "$expected" "$work/screen" && [ "$(grep -cF -f "$expected" "$work/screen")" -ge 6 ]; then
  check ok "$interactive_line (tmux screen shows the customer table)"
else
  cat "$work/screen" >&2
  check failed "$interactive_line (tmux screen shows the customer table)"
fi

# Ctrl+C during a long result stops reading it and keeps the session: the
# next statement runs on the same connection.
tmux send-keys -t "$session" \
  "with recursive n(i) as (select 1 union all select i + 1 from n limit 2000000) select i from n" Enter
sleep 1
tmux send-keys -t "$session" C-c
if wait_for "reading stopped by Ctrl+C"; then
  tmux send-keys -t "$session" "select count(*) as customers from customer" Enter
  if wait_for "(1 row)"; then
    check ok "Ctrl+C stops a long result and the session goes on"
  else
    tmux capture-pane -p -t "$session" >&2
    check failed "Ctrl+C stops a long result and the session goes on"
  fi
else
  tmux capture-pane -p -t "$session" >&2
  check failed "Ctrl+C stops a long result and the session goes on"
fi
tmux send-keys -t "$session" "quit" Enter
sleep 0.5
# libedit writes blanks as \040.
if grep -qE "^select( |\\\\040)\\*( |\\\\040)from( |\\\\040)customer$" "$home/.velquarn_history" 2>/dev/null; then
  check ok "history kept in ~/.velquarn_history"
else
  check failed "history kept in ~/.velquarn_history"
fi

echo "readme_test: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
