# Sourced by the Windows scripts: a fresh Wine prefix in which COM5 is a simulated chip.
#
# Needs: $work (a scratch directory), $sim (a Linux tarvok-sim). Provides wine_run,
# start_chip, stop_chip, windows_path, and make_wine_prefix; call wine_cleanup on exit.
# With $serial_server (a Linux tarvok-test-serial-server), start_serial_server and
# stop_serial_server put a serial server on 127.0.0.1 in front of the chip.

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
sim_pid=0
xvfb_pid=0
server_pid=0

# Wine's programs and services keep the standard streams they were started with: never
# start them on a pipe that someone waits to see closed.
wine_run() {
  local seconds=$1
  shift
  timeout --kill-after=10 "$seconds" wine "$@" </dev/null
}

start_wineserver() {
  timeout --kill-after=10 1800 wineserver -p -f </dev/null >/dev/null 2>&1 &
  sleep 0.2
}

# One simulated chip on $work/com5, which Wine knows as COM5; arguments go to tarvok-sim.
start_chip() {
  rm -f "$work/com5" "$work/flash.bin"
  "$sim" --link "$work/com5" --exit-after-burn --flash-file "$work/flash.bin" "$@" \
    >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    [[ -L "$work/com5" ]] && return
    sleep 0.05
  done
  echo "the simulated chip did not start" >&2
  return 1
}

# Waits for the chip to end after a finished burn (up to the seconds given, default 30),
# then stops it; a chip that failed never finishes, so give it 0.
stop_chip() {
  ((sim_pid)) || return 0
  local seconds=${1:-30}
  ((seconds > 0)) && timeout "$seconds" tail --pid="$sim_pid" -f /dev/null 2>/dev/null ||
    kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=0
}

# A serial server (ser2net, ser2net-raw or pyserial; more arguments go to it) in front of the
# chip's line; its port's name, such as rfc2217://127.0.0.1:PORT, in $server_port.
start_serial_server() {
  local kind=$1
  shift
  rm -f "$work/server.out"
  "$serial_server" "$kind" "$(readlink "$work/com5")" "$@" >"$work/server.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 300); do
    server_port=$(head -n 1 "$work/server.out" 2>/dev/null || true)
    [[ $server_port == *://127.0.0.1:* ]] && return
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "the serial server did not start:" >&2
  cat "$work/server.out" >&2
  return 1
}

# It stops its server as it ends; a SIGTERM sent before it ran (as it was being started) is
# lost, so after ten seconds it is killed.
stop_serial_server() {
  ((server_pid)) || return 0
  kill "$server_pid" 2>/dev/null || true
  timeout 10 tail --pid="$server_pid" -f /dev/null 2>/dev/null || kill -9 "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=0
}

windows_path() {
  local path=$1
  echo "Z:${path//\//\\}"
}

# Wine picks its display driver once, as its services start: an X server (Xvfb) runs from
# before then, for the dialog.
start_display() {
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -s "$work/display" ]] && break
    sleep 0.05
  done
  export DISPLAY=":$(head -n 1 "$work/display")"
}

# A fresh prefix. Wine lists a port under SerialComm when its device exists as its services
# start, so a first chip runs while they start again.
make_wine_prefix() {
  rm -rf "$WINEPREFIX"
  start_display
  start_chip
  start_wineserver
  wine_run 120 reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$work/com5" /f >/dev/null 2>&1
  timeout 30 wineserver -k
  timeout 30 wineserver -w
  start_wineserver
  wine_run 60 reg query 'HKLM\Hardware\DeviceMap\SerialComm' >"$work/serialcomm.txt" 2>&1
  stop_chip 0  # waited for: as it ends it removes its link, which the next chip makes anew
}

wine_cleanup() {
  stop_serial_server
  ((sim_pid)) && kill "$sim_pid" 2>/dev/null
  timeout 30 wineserver -k 2>/dev/null || true
  ((xvfb_pid)) && kill "$xvfb_pid" 2>/dev/null
  true
}
