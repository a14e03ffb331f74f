#!/usr/bin/env bash
# Burns a 5,000-byte image with burn_one_chip into tarvok-sim, which exits 3 unless its flash
# then holds that image and the finish command arrived.
set -euo pipefail
example="$1"
sim="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 5000 /dev/urandom >"$work/image.bin"
coproc chip { "$sim" --exit-after-burn --expect-image "$work/image.bin"; }
read -r pty <&"${chip[0]}"
"$example" "$work/image.bin" "$pty"
wait "$chip_PID"
