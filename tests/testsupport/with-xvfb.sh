#!/usr/bin/env bash
# with-xvfb.sh WIDTHxHEIGHTxDEPTH command [args...]
# Runs the command on an X server of its own (Xvfb) at that screen size.
# The server picks a free display and reports it (-displayfd), so nothing is
# probed, locked or authorised through a temporary folder: a TMPDIR holding
# spaces, quotes or "$(...)" cannot break it (xvfb-run pastes it into shell
# lines). Local clients only, no TCP.
set -euo pipefail
screen=$1
shift
coproc XVFB { exec Xvfb -displayfd 1 -screen 0 "$screen" -nolisten tcp 2>/dev/null; }
xvfb_pid=$XVFB_PID
stop() { kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; }
trap stop EXIT
display=""
if ! read -r -t 20 -u "${XVFB[0]}" display || [ -z "$display" ]; then
  echo "with-xvfb.sh: Xvfb did not start" >&2
  exit 1
fi
rc=0
DISPLAY=":$display" "$@" || rc=$?
exit "$rc"
