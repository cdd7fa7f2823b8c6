#!/usr/bin/env bash
# The main command: sets the machine up, builds the updater and nvkerneld, starts nvkerneld
# in a private root with one simulated QM7 on firmware 1.4.0 (kernel tag A), opens the
# updater window on this display, and stops the daemon when the window closes.
#   NV_BUILD_DIR   build folder (default build/app)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

BUILD=${NV_BUILD_DIR:-build/app}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNV_TESTS=OFF -DNV_BENCH=OFF >/dev/null
cmake --build "$BUILD" --target updater nvkerneld

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
run-updater: built, but there is no display to open the updater window on
(neither DISPLAY nor WAYLAND_DISPLAY is set). Run this command from a desktop session,
over "ssh -X", or inside a virtual display:  xvfb-run -a scripts/run-updater.sh
MSG
  exit 1
fi

NVKERNELD="$BUILD/Drivers/NVKernel/nvkerneld"
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/nvk-updater-XXXXXX")
DAEMON=""
cleanup() {
  if [ -n "$DAEMON" ] && kill -0 "$DAEMON" 2>/dev/null; then
    kill -TERM "$DAEMON" 2>/dev/null || true
    wait "$DAEMON" 2>/dev/null || true
  fi
  rm -rf "$ROOT"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$NVKERNELD" --root "$ROOT" --plug "qm7 --fw 1.4.0 --kernel A" --quiet &
DAEMON=$!
for _ in $(seq 100); do
  "$NVKERNELD" ctl --root "$ROOT" list >/dev/null 2>&1 && break
  kill -0 "$DAEMON" 2>/dev/null || { echo "run-updater: nvkerneld did not start" >&2; exit 1; }
  sleep 0.05
done

cat <<MSG
nvkerneld serves a simulated VESK:QM7 (firmware 1.4.0, kernel tag A) in $ROOT.
Opening the updater; it stops the daemon when its window closes. To unplug and plug the
device back (the updater asks for this during an update), in another terminal:
  $NVKERNELD ctl --root $ROOT replug 1
MSG
NVKERNEL_ROOT="$ROOT" "$BUILD/bin/updater"
