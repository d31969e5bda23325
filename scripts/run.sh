#!/usr/bin/env bash
# Installs the packages, builds what the station needs (tests and benchmarks
# are scripts/test.sh's), prepares run/ from the factory defaults when it is
# missing, starts the board simulator and then the station inside run/.
# Never reboots, mounts or sets the clock of this machine: every platform path
# and command goes to the simulated platform in run/sim.
set -euo pipefail
# How this run was started, for the station's console when it ends for a
# restart the simulated panel only logs: the station's variables set in front
# of this script, then the script as called, with its arguments.
start_command=""
for name in $(compgen -e); do
  case "$name" in
    STATION_SIMROOT|STATION_START_COMMAND) ;;
    STATION_*) start_command+="$name=$(printf '%q' "${!name}") " ;;
  esac
done
start_command+="bash $(printf '%q' "$0")"
[ $# -eq 0 ] || start_command+=$(printf ' %q' "$@")
export STATION_START_COMMAND="$start_command"
cd "$(dirname "$0")/.."
top=$(pwd)
echo "== Checking the Debian packages"
bash scripts/deps.sh
bash scripts/build.sh --station

if [ ! -d run ]; then
  echo "Preparing a fresh working directory in run/ (factory settings)"
  cp -a build/workdir run
fi
mkdir -p run/sim/dev run/sim/proc run/sim/mnt run/sim/sys/class/backlight/intel_backlight
# This machine's network cards, as the network settings dialog lists them
# (names and the files it reads, copied; the cards are not touched).
bash scripts/simnetcards.sh run/sim
# The LED device of the simulated panel: its requests are logged to run/sim/dev/led.log.
touch run/sim/dev/led
export STATION_SIMROOT="$top/run/sim"
# The Modbus slave on an unprivileged port of the loopback address.
export STATION_MODBUS_PORT="${STATION_MODBUS_PORT:-1502}"
# Tells the start-up it runs on a desktop: no network-card or camera power-up waits.
export QT_QPA_PLATFORM_PLUGIN_PATH=/opt/Qt5.15.7/plugins/platforms
# Qt's runtime folder: the caller's, or one of this run's own, removed at its end.
runtime_made=""
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  runtime_made=$(mktemp -d)
  XDG_RUNTIME_DIR=$runtime_made
fi
export XDG_RUNTIME_DIR
chmod 700 "$XDG_RUNTIME_DIR"

# What the station starts on: run/PARAM.db, unless it finds that file missing
# or damaged; it then says so, puts the factory copy of paraGroup/default/ in
# its place and restarts, so the values that count are the copy's.
paramgen=build/tools/paramgen/paramgen
params=run
language_status=0
language=$("$paramgen" --language run) || language_status=$?
if [ "$language_status" -eq 3 ]; then
  params=run/paraGroup/default
  language=$("$paramgen" --language "$params") || language=""
fi

board_pid=""
if [ -x build/boardsim ]; then
  # The station opens the port its parameters name: the board goes there too.
  port=$("$paramgen" --board-port "$params")
  # In a session of its own, as the X server below: a Ctrl-C reaches the
  # station alone, which ends in order while the board still answers; the
  # board goes after it.
  # Its commands (build/boardsim --help) come through run/boardsim.in: this
  # script holds the pipe open, so a command written by hand is read and the
  # pipe's end never closes the simulator's input.
  rm -f run/boardsim.in
  mkfifo run/boardsim.in
  exec 3<>run/boardsim.in
  setsid build/boardsim --port "$port" > run/boardsim.log 2>&1 <&3 3<&- &
  board_pid=$!
  echo "Board simulator on ttyS$port (automatic machine mode), log: run/boardsim.log, commands: echo 'silent on' > run/boardsim.in"
fi
xvfb_pid=""
cleanup() {
  [ -n "$board_pid" ] && kill "$board_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -z "$runtime_made" ] || rm -rf "$runtime_made"
}
trap cleanup EXIT

first_use() {
  if [ "$language_status" -eq 3 ]; then
    cat <<DAMAGED
run/PARAM.db cannot be used: the station says so in a box in English (touch its button), keeps a damaged
  file as run/PARAM.db.damaged, puts the factory copy from run/paraGroup/default/ in its place and ends, as
  the panel would restart.${language:+ Started again, the screen is in $language (the language of that copy).}
DAMAGED
  elif [ -n "$language" ]; then
    echo "The screen is in $language (the language stored in run/PARAM.db)."
  fi
  cat <<HINT
README.md ("Language", "First use") names every control by its Simplified Chinese caption, with the English one beside it.
First use (README.md "First use"): start with parts in the mould (STATION_SIMCAMERA_CONFIG, a file holding
  { "parts": true }); touch a camera view for the side bar; 系统参数 (System Param): tick 使用统计 (Use statistics),
  set 不良记录 (NG-Rec) above 0, 确定 (Confirm), 是 (YES); 重新采样 (Resample), 是 (YES); 区域设置 (Area Settings):
  a quadrilateral over the parts. After a resample nothing is counted until the next start: for NGs, Ctrl-C and
  start again with { "parts": true, "defectEvery": 4 }. Language: 系统参数 -> 维护 (Maintenance) -> chooser ->
  切换语言后重启 (Switch language then restart); here the reboot is only logged and the station ends by itself, saying how to start it again.
HINT
}

# The station runs in the background of this script, which hands it a
# SIGTERM or Ctrl-C (the station takes both as its exit action) and waits
# for its end: the board simulator and the X server are stopped only then.
app=""
start_station() {
  "$top/build/station" "$@" 3<&- &
  app=$!
  trap 'kill -TERM "$app" 2>/dev/null || true' INT TERM
}
# Until the station has ended, a screenshot every 5 s to the file named, if any.
wait_station() {
  local shot=$1 ticks=0 rc=0
  while kill -0 "$app" 2>/dev/null; do
    sleep 1 &
    wait $! || true
    ticks=$((ticks + 1))
    # Written whole beside it, then renamed over it: whoever reads the
    # screenshot meanwhile gets the last one, never an empty or half file.
    if [ -n "$shot" ] && [ $((ticks % 5)) -eq 0 ]; then
      if import -window root "png:$shot.part" 2>/dev/null; then mv -f "$shot.part" "$shot"; else rm -f "$shot.part"; fi
    fi
  done
  wait "$app" || rc=$?
  return "$rc"
}

cd run
echo "== Starting the station in run/ (journal run/RECORD.db, logs run/ruv_net/workspace/log/)"
rc=0
if [ -n "${DISPLAY:-}" ]; then
  first_use
  start_station "$@"
  wait_station "" || rc=$?
else
  shot="$top/run/screenshot.png"
  echo "No DISPLAY: running on a virtual X server (Xvfb) at 1280x800."
  echo "While the station runs, a screenshot is taken every 5 s to $shot"
  # The X server runs in a session of its own: a Ctrl-C reaches the station,
  # which ends in order while its display still stands; the server goes last.
  coproc XVFB { exec setsid Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null; }
  xvfb_pid=$XVFB_PID
  display=""
  read -r -t 20 -u "${XVFB[0]}" display || true
  if [ -z "$display" ]; then
    echo "The virtual X server did not start." >&2
    exit 1
  fi
  export DISPLAY=":$display"
  cat <<LOOK
The station runs on X display :$display (the first free one; it can change from one start to the next).
  look:  $shot (every 5 s), or  DISPLAY=:$display import -window root shot.png
  touch: DISPLAY=:$display xdotool mousemove X Y click 1   (screen 1280x800, X Y in pixels from the top left)
LOOK
  first_use
  start_station "$@"
  wait_station "$shot" || rc=$?
fi
exit "$rc"
