#!/usr/bin/env bash
# Installs what is needed, builds, and runs a device search: on this machine's
# Ethernet adapters when raw access works, else on the built-in simulated LAN.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target korvane korvane-devsim

bin=build/default/src/korvane
echo "== adapters"
"$bin" adapters || true
echo "== search"
# KORVANE_DEMO_SIMULATE=1 goes straight to the simulated LAN (no frames on real adapters).
if [ "${KORVANE_DEMO_SIMULATE:-0}" != "1" ] && "$bin" search --require-adapter; then
  exit 0
fi
echo "(searching the simulated LAN of 8 devices instead)"
exec "$bin" --simulate 8 search
