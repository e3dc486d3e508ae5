#!/bin/sh
# Holds one Wine session open in the prefix the Windows test programs share, for the length of their run.
# Without it, a program that starts while no other runs starts the session's own processes first (the desktop,
# services: about a second), and two programs that start a session at the same moment can wait ten seconds
# for each other. The session is held by a console program that waits for input that never comes; `end`
# stops it. If `end` never runs (an interrupted run), the holder gives up after LIFETIME seconds by itself.
# Usage: wine-session.sh begin|end <wine> <prefix directory>
set -e
LIFETIME=900
action=$1
wine=$2
prefix=$3
here=$(dirname "$0")
holder="$prefix.session"

stop_holder() {
  if [ -f "$holder" ]; then
    kill -- "-$(cat "$holder")" 2>/dev/null || true
    rm -f "$holder"
  fi
}

case $action in
begin)
  # The holder of a run that never reached its end.
  stop_holder
  # Makes the prefix on first use, as every test program's start would. Not onto CTest's streams: the Wine
  # server and the session's processes that this start leaves running would hold them open, and CTest would
  # wait for them to close.
  if ! sh "$here/wine-run.sh" "$wine" "$prefix" cmd /c exit >"$prefix.log" 2>&1; then
    cat "$prefix.log" >&2
    exit 1
  fi
  # A session of its own, so that `end` can stop the waiting program and what feeds it as one group; no
  # standard stream of CTest's, so that CTest does not wait for the holder to end.
  setsid sh -c 'sleep "$0" | exec sh "$1/wine-run.sh" "$2" "$3" cmd /c pause' \
    "$LIFETIME" "$here" "$wine" "$prefix" </dev/null >/dev/null 2>&1 &
  echo $! >"$holder"
  ;;
end)
  stop_holder
  # And whatever a test left running in the prefix (a program a timed-out test never saw end).
  server="$(dirname "$wine")/wineserver"
  [ -x "$server" ] || server=wineserver
  WINEPREFIX="$prefix" "$server" -k 2>/dev/null || true
  ;;
*)
  echo "usage: wine-session.sh begin|end <wine> <prefix directory>" >&2
  exit 2
  ;;
esac
