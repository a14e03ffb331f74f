# Sourced by scripts/test-windows: tarvok.exe station --board port on a COM port that Windows
# lists only while a board is in place, as a USB adapter that comes with each board would.
#
# The simulated fixture gives each board a pseudo-terminal of its own, named by a link only
# while the board is in place. A watcher follows the link: when it appears, COM7 is made to
# exist (Wine's dosdevices link and the port's value under
# HKLM\Hardware\DeviceMap\SerialComm, where Windows lists its ports); when it goes, both are
# removed. The station must burn each of the three boards once.
#
# Needs what scripts/lib/wine-chip.sh provides, a prefix made by make_wine_prefix, $build,
# $sim and $work.
# shellcheck shell=bash disable=SC2154  # $build, $sim and $work are the sourcing script's

station_com=COM7
station_value='\Device\TarvokFixture7'
station_key='HKLM\Hardware\DeviceMap\SerialComm'

# Runs until killed: makes COM7 exist while $1 (the fixture's link) does.
follow_fixture_link() {
  local link=$1 listed=0
  local dosdevice="$WINEPREFIX/dosdevices/${station_com,,}"
  while true; do
    if [[ -e $link ]] && ((!listed)); then
      ln -sfn "$link" "$dosdevice"
      wine_run 60 reg add "$station_key" /v "$station_value" /d "$station_com" /f >/dev/null 2>&1
      listed=1
      echo "COM7 listed"
    elif [[ ! -e $link ]] && ((listed)); then
      wine_run 60 reg delete "$station_key" /v "$station_value" /f >/dev/null 2>&1
      rm -f "$dosdevice"
      listed=0
      echo "COM7 gone"
    fi
    sleep 0.1
  done
}

station_on_com_port() {
  local dir="$work/station" boards=3
  rm -rf "$dir"
  mkdir -p "$dir/boards"
  head -c 6000 /dev/urandom >"$dir/image.bin"

  # The gap between boards outlasts the watcher's removal of the last board's port (a Wine
  # program start) and the station's look at the port list.
  "$sim" --boards "$boards" --port-per-board --link "$dir/port" --board-dir "$dir/boards" \
    --flash-size 65536 --rom-baud 115200 --app-ms 500 --board-gap-ms 3000 \
    >"$dir/sim.out" 2>"$dir/sim.err" &
  local fixture=$!
  follow_fixture_link "$dir/port" >"$dir/watcher.out" 2>&1 &
  local watcher=$!

  local started=$SECONDS status=0
  wine_run 300 "$build/cli/tarvok.exe" station "$(windows_path "$dir/image.bin")" \
    --port "$station_com" --log "$(windows_path "$dir/station.log")" --board port \
    --count "$boards" --rom-baud 115200 --burn-baud 921600 --json \
    >"$dir/station.out" 2>"$dir/station.err" || status=$?
  local seconds=$((SECONDS - started))
  timeout 30 tail --pid="$fixture" -f /dev/null 2>/dev/null || kill "$fixture" 2>/dev/null || true
  wait "$fixture" 2>/dev/null || true
  kill "$watcher" 2>/dev/null || true
  wait "$watcher" 2>/dev/null || true
  wine_run 60 reg delete "$station_key" /v "$station_value" /f >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX/dosdevices/${station_com,,}"

  tr -d '\r' <"$dir/station.err"
  local failed=0
  if ((status != 0)); then
    echo "test-windows: station on $station_com: exit code $status" >&2
    failed=1
  fi
  if ! tr -d '\r' <"$dir/station.out" | grep "\"passed\": $boards" >/dev/null; then
    echo "test-windows: station on $station_com: the counts do not say $boards passed:" >&2
    cat "$dir/station.out" >&2
    failed=1
  fi
  local passes
  passes=$(grep -c '"result":"pass"' "$dir/station.log" 2>/dev/null || true)
  if [[ $passes != "$boards" ]] || (($(wc -l <"$dir/station.log") != boards)); then
    echo "test-windows: station on $station_com: the log holds $passes passes, not $boards:" >&2
    cat "$dir/station.log" >&2 || true
    failed=1
  fi
  local board
  for ((board = 1; board <= boards; ++board)); do
    if ! grep -q '"burns_started": 1,' "$dir/boards/board-$board.json" 2>/dev/null ||
      ! grep -q '"result": "burned"' "$dir/boards/board-$board.json"; then
      echo "test-windows: station on $station_com: board $board was not burned once:" >&2
      cat "$dir/boards/board-$board.json" >&2 2>/dev/null || echo "(no record)" >&2
      failed=1
    fi
  done
  if ((failed)); then
    cat "$dir/sim.err" "$dir/watcher.out" >&2
    exit 1
  fi
  echo "station on $station_com: $boards boards, each burned once as its port came and went" \
    "($seconds s)"
}
