# Sourced by scripts/test-windows: the station window worked under Xvfb by its test program
# (tarvok-station-test.exe, the shipped window with a driver that presses its buttons), on two
# simulated fixtures of three boards each, on COM6 and COM7.
#
# Each fixture keeps one pseudo-terminal for all its boards; its boards come and go behind it
# and the operator confirms each with "Next board", which the test presses once the tile
# has waited longer than the fixture's gap between boards. The COM ports exist (Wine's
# dosdevices link and the value under HKLM\Hardware\DeviceMap\SerialComm) while the fixtures
# run. The test checks the tiles' words and counts, the header, the records list and the
# log, then closes the window while a fourth board burns on COM7 (answering Yes) and checks
# that board is logged as interrupted; this script checks that the first three boards of each
# fixture were burned once. The window burns with --classic: the loader going down at the boot
# ROM's rate keeps each burn long enough to be closed in the middle of (through the boot stage
# a board here takes about a second).
#
# Needs what scripts/lib/wine-chip.sh provides, a prefix made by make_wine_prefix, $build,
# $sim and $work. Optional: $station_screenshot, a .bmp to picture the window in mid-run (the
# wire is then throttled and the burn slower, for a bar half-way).
# shellcheck shell=bash disable=SC2154  # $build, $sim and $work are the sourcing script's

station_window_key='HKLM\Hardware\DeviceMap\SerialComm'

station_window_test() {
  local dir="$work/station-window" boards=3 com fixtures=() status=0
  local sim_args=() burn_baud=921600 screenshot_args=()
  if [[ -n ${station_screenshot:-} ]]; then
    sim_args=(--throttle)
    burn_baud=115200
    screenshot_args=(--screenshot "$(windows_path "$station_screenshot")")
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  head -c 49152 /dev/urandom >"$dir/image.bin"
  # Last week's image is refused before any port is touched, with one message, exit code 2.
  local refused=0
  timeout --kill-after=10 120 wine "$build/tests/tarvok-station-test.exe" \
    "$(windows_path "$dir/image.bin")" --port COM6 --log "$(windows_path "$dir/refused.log")" \
    --expect-sha256 "$(printf '0%.0s' {1..64})" </dev/null >"$dir/refused.out" 2>&1 ||
    refused=$?
  if ((refused != 2)) || ! tr -d '\r' <"$dir/refused.out" | grep "is not the expected one" >/dev/null ||
    [[ -s "$dir/refused.log" ]]; then
    echo "test-windows: the station window took an image of another SHA-256 (exit code" \
      "$refused):" >&2
    cat "$dir/refused.out" >&2
    exit 1
  fi

  for com in COM6 COM7; do
    mkdir -p "$dir/$com"
    "$sim" --boards "$((boards + 1))" --link "$dir/$com/port" --board-dir "$dir/$com" \
      --flash-size 65536 --rom-baud 115200 --app-ms 300 --app-speaks silent \
      --board-gap-ms 300 "${sim_args[@]}" >"$dir/$com/sim.out" 2>"$dir/$com/sim.err" &
    fixtures+=($!)
  done
  for com in COM6 COM7; do
    for _ in $(seq 100); do
      [[ -L "$dir/$com/port" ]] && break
      sleep 0.05
    done
    ln -sfn "$dir/$com/port" "$WINEPREFIX/dosdevices/${com,,}"
    wine_run 60 reg add "$station_window_key" /v "\\Device\\TarvokWindow$com" /d "$com" /f \
      >/dev/null 2>&1
  done

  local started=$SECONDS
  timeout --kill-after=10 300 wine "$build/tests/tarvok-station-test.exe" \
    "$(windows_path "$dir/image.bin")" --port COM6 --port COM7 \
    --log "$(windows_path "$dir/station.log")" --board operator --name "line 1 (Wine)" \
    --rom-baud 115200 --burn-baud "$burn_baud" --classic "${screenshot_args[@]}" \
    </dev/null >"$dir/window.out" 2>&1 || status=$?
  local seconds=$((SECONDS - started))
  local pid
  for pid in "${fixtures[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  for com in COM6 COM7; do
    wine_run 60 reg delete "$station_window_key" /v "\\Device\\TarvokWindow$com" /f \
      >/dev/null 2>&1 || true
    rm -f "$WINEPREFIX/dosdevices/${com,,}"
  done

  tr -d '\r' <"$dir/window.out" | grep -v '^X connection' || true
  local failed=0 board
  if ((status != 0)); then
    echo "test-windows: the station window's test failed (exit code $status)" >&2
    failed=1
  fi
  for com in COM6 COM7; do
    for ((board = 1; board <= boards; ++board)); do
      if ! grep -q '"burns_started": 1,' "$dir/$com/board-$board.json" 2>/dev/null ||
        ! grep -q '"result": "burned"' "$dir/$com/board-$board.json" ||
        ! cmp -s -n 49152 "$dir/image.bin" "$dir/$com/board-$board.bin"; then
        echo "test-windows: station window: $com board $board was not burned once:" >&2
        cat "$dir/$com/board-$board.json" >&2 2>/dev/null || echo "(no record)" >&2
        failed=1
      fi
    done
  done
  if ((failed)); then
    cat "$dir/COM6/sim.err" "$dir/COM7/sim.err" >&2
    exit 1
  fi
  echo "station window: $boards boards on each of COM6 and COM7, tiles, records and log" \
    "checked ($seconds s)"
}
