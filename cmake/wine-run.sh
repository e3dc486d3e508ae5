#!/bin/sh
# Runs a Windows program under Wine in a Wine prefix of its own, so that the tests never touch the user's
# ~/.wine. Usage: wine-run.sh <wine> <prefix directory> <program.exe> [arguments...]
#
# The prefix is made on first use (20-60 s, or a copy of the one kept in the user's cache), once even when
# CTest starts several programs at the same time.
# It uses Wine's null graphics driver: windows, controls, timers and message boxes work without an X display
# (and never appear on one), which is what the user-interface tests need.
set -e
wine=$1
prefix=$2
shift 2

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No menu entries or file associations written into the user's home directory.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"

if [ ! -f "$prefix/.updater-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  # A prefix made once is kept in the user's cache for this Wine and this file (the recipe): a new build
  # directory, as a clean clone has, copies it in about a second instead of making its own.
  flavour=$(basename "$wine")
  cache="${XDG_CACHE_HOME:-$HOME/.cache}/updater-tests"
  cached="$cache/wineprefix-$flavour-$({ "$wine" --version; cat "$0"; } | sha256sum | cut -c1-16)"
  (
    flock 9
    if [ ! -f "$prefix/.updater-ready" ] && [ -f "$cached/.updater-ready" ]; then
      rm -rf "$prefix"
      cp -a "$cached" "$prefix"
    fi
    if [ ! -f "$prefix/.updater-ready" ]; then
      # No Mono or Gecko installer prompts: nothing here needs them.
      WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mscoree,mshtml=" "$wine" wineboot --init
      "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
      # The driver is chosen when the prefix's desktop process starts: let this session end first.
      server="$(dirname "$wine")/wineserver"
      [ -x "$server" ] || server=wineserver
      "$server" -w
      touch "$prefix/.updater-ready"
      # Kept under a name of its own until whole; the ones an older Wine or recipe made are dropped.
      if mkdir -p "$cache" 2>/dev/null && cp -a "$prefix" "$cached.$$" 2>/dev/null; then
        for old in "$cache/wineprefix-$flavour-"*; do
          [ "$old" = "$cached.$$" ] || rm -rf "$old"
        done
        mv "$cached.$$" "$cached" 2>/dev/null || rm -rf "$cached.$$"
      else
        rm -rf "$cached.$$"
      fi
    fi
  ) 9>"$prefix.lock"
fi

# On a terminal, the program's output as it comes. Otherwise (CTest's pipe) through a file, printed when the
# program ends: Wine hands the program's output on to the session's desktop process, which outlives the program
# when a session is held open (cmake/wine-session.sh), and CTest would wait for that pipe to close. A program
# killed at CTest's time limit takes this script with it: the first line says where its output is.
if [ -t 1 ]; then
  exec "$wine" "$@"
fi
out=$(mktemp)
echo "(the output of $(basename "$1") comes when it ends; until then it is in $out)"
trap 'cat "$out"; rm -f "$out"' EXIT
trap 'exit 143' TERM INT
"$wine" "$@" >"$out" 2>&1
