#!/usr/bin/env bash
# cmake/WineRun.sh PREFIX PROGRAM [ARGS...]
#
# Runs a Windows program of the cross build under Wine, in the Wine folder
# PREFIX (inside the build folder; ~/.wine is never touched). The folder is
# made on first use, quietly and once however many tests start at the same
# moment. Wine's own chatter is off unless WINEDEBUG says otherwise; the
# program's output and exit status are its own.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs while the folder is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/.ready" ]; then
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -f "$prefix/.ready" ]; then
      wineboot --init >/dev/null 2>&1 || true
      wineserver --wait >/dev/null 2>&1 || true
      touch "$prefix/.ready"
    fi
  ) 9>"$prefix.lock"
fi
exec wine "$@"
