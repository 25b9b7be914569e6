#!/usr/bin/env bash
# cmake/WineRun.sh PREFIX PROGRAM [ARGS...]
# cmake/WineRun.sh PREFIX --prepare
#
# Runs a Windows program of the cross build under Wine, in the Wine folder
# PREFIX (absolute; inside the build folder, so ~/.wine is never touched).
# Wine's own chatter is off unless WINEDEBUG says otherwise; the program's
# output and exit status are its own. --prepare only makes the folder, which
# takes Wine some seconds the first time (the build does it when it is
# configured, so that no test's time goes to it).
set -euo pipefail
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs while the folder is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

mkdir -p "$prefix"
(
  # Once at a time, however many tests start together.
  flock 9
  if [ ! -f "$prefix/.ready" ]; then
    wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
    wineserver --wait </dev/null >/dev/null 2>&1 9>&- || true
    touch "$prefix/.ready"
  fi
  [ "$1" != --prepare ] || exit 0
  # A Wine server that outlives each program by half a minute, so that the
  # next one starts in a tenth of a second rather than in seconds. When
  # one already runs, this one sees it and leaves. A new one gets Wine's
  # background services started here, with no output of ours: started by a
  # test, they would hold its output open, and ctest would wait for them.
  # (The lock's descriptor is closed for them: a server that kept it would
  # hold the lock for its whole life.)
  if wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
    wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"
[ "$1" != --prepare ] || exit 0
exec wine "$@"
