#!/usr/bin/env bash
# The whole job in one command: make a small update archive, serve it from 127.0.0.1, run the updater
# against it (its window when a display is available, the console front end otherwise) and show the result.
# Usage: tools/demo.sh path/to/updater
set -euo pipefail
updater=$(realpath "${1:-build/updater}")
work=$(mktemp -d "${TMPDIR:-/tmp}/updater-demo.XXXXXX")
server_pid=""
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; true; }
trap cleanup EXIT

# The update: a few files in sub-directories and a program that the updater starts when it is done.
mkdir -p "$work/package/docs" "$work/package/lib"
echo "MyApp 2.0" > "$work/package/VERSION"
echo "What's new in 2.0: everything." > "$work/package/docs/CHANGES.txt"
head -c 200000 /dev/urandom > "$work/package/lib/data.bin"
cat > "$work/package/start.sh" <<'SCRIPT'
#!/bin/sh
# Started by the updater after the update has landed.
dir=$(dirname "$0")
echo "MyApp started: version $(cat "$dir/VERSION")" > "$dir/started.txt"
SCRIPT
chmod +x "$work/package/start.sh"
(cd "$work/package" && zip -q -r "$work/update.zip" .)

# Installed application: an old version that the update replaces.
mkdir -p "$work/app"
echo "MyApp 1.0" > "$work/app/VERSION"

python3 "$(dirname "$0")/update_server.py" "$work/update.zip" --rate 400000 --port-file "$work/port" &
server_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")

echo "Serving the update at http://127.0.0.1:$port/update.zip"
echo "Running: updater <url> $work/app update.zip start.sh $work/download \"MyApp update\""
"$updater" "http://127.0.0.1:$port/update.zip" "$work/app" update.zip start.sh "$work/download" "MyApp update"

for _ in $(seq 50); do [ -f "$work/app/started.txt" ] && break; sleep 0.1; done
echo
echo "Installed directory after the update:"
(cd "$work/app" && find . -type f | sort | sed 's/^/  /')
echo "VERSION: $(cat "$work/app/VERSION")"
if [ -f "$work/app/started.txt" ]; then
  echo "The updated program ran: $(cat "$work/app/started.txt")"
else
  echo "The updated program did not run." >&2
  exit 1
fi
