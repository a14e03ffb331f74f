#!/usr/bin/env bash
# Burns a 5,000-byte image with burn_one_chip into tarvok-sim, which exits 3 unless its flash
# then holds that image and the finish command arrived.
set -euo pipefail
example="$1"
sim="$2"
work=$(mktemp -d)
trap '[[ -z ${chip_PID:-} ]] || kill "$chip_PID" 2>/dev/null || true; rm -rf "$work"' EXIT
head -c 5000 /dev/urandom >"$work/image.bin"
coproc chip { "$sim" --exit-after-burn --expect-image "$work/image.bin"; }
read -r -t 10 pty <&"${chip[0]}"
"$example" "$work/image.bin" "$pty"
# The chip ends by itself once the finish command has arrived: give it 10 s at most.
pid=$chip_PID
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "try-example: tarvok-sim never saw the burn end" >&2
  exit 1
fi
wait "$pid"
