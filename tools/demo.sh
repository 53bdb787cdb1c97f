#!/usr/bin/env bash
# Installs what is needed, builds, and runs a device search: on this machine's
# Ethernet adapters when raw access works, then, when that finds nothing, the
# same search on the built-in simulated LAN of eight devices.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target korvane korvane-devsim

bin=build/default/src/korvane
echo "== adapters"
"$bin" adapters || true
# KORVANE_DEMO_SIMULATE=1 goes straight to the simulated LAN (no frames on real adapters).
if [ "${KORVANE_DEMO_SIMULATE:-0}" != "1" ]; then
  echo "== search on this machine's adapters"
  err=$(mktemp)
  trap 'rm -f "$err"' EXIT
  status=0
  found=$("$bin" search 2>"$err") || status=$?
  if [ "$status" -eq 0 ] && [ "$found" != "No device found" ]; then
    printf '%s\n' "$found"
    exit 0
  fi
  adapters=$("$bin" adapters 2>/dev/null | awk '$1 ~ /^[0-9]+$/ {print $2}' | paste -sd, - | sed 's/,/, /g')
  if [ "$status" -eq 0 ]; then
    echo "No device answered on ${adapters:-no adapter}: the search ran, but no device of this"
    echo "kind is on those segments (or a firewall or switch keeps its frames away)."
  else
    echo "Nothing could be searched (exit status $status):"
    sed 's/^/  /' "$err"
  fi
fi
echo "== the same search on the simulated LAN of 8 emulated devices (no frames on real adapters)"
exec "$bin" --simulate 8 search
