#!/usr/bin/env bash
# The main job of `make run`: boots both drivers in OVMF under QEMU and reports
# what the firmware answered, with the paths of the logs.
set -uo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
cd "$REPO"
echo "[run] booting OVMF with TavrixGopDxe and Prelumen (about 15 s)"
bash scripts/qemu-smoke.sh DEBUG; rc=$?
echo "[run] serial console: out/smoke/console.txt"
exit $rc
