#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks it the
# way a user meets it: lintian (no errors), the desktop entry and the
# metainfo validated, then installed, the installed korvane run by an
# unprivileged user on the simulated LAN, the capability found on
# korvane-relay alone, the manual pages found, the dissector found by
# tshark, and the package removed again.
#
# The probe of the raw-frame capability: an unprivileged user loads a
# library of their own into korvane-utility (a Qt generic plugin on
# QT_PLUGIN_PATH) and into korvane (LD_PRELOAD); it tries to open a raw
# socket and must be refused, while the same user's korvane and
# korvane-utility find korvane-devsim's devices behind a veth pair in a
# network namespace of this script's own, through the relay.
#
# usage: tools/package-check.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

rm -f "$build"/korvane-utility_*.deb
cmake --build "$build" --target package korvane_raw_probe
debs=("$build"/korvane-utility_*.deb)
deb=${debs[0]}
echo "package: $deb ($(stat -c %s "$deb") bytes)"

# Warnings that stay are explained in the package's lintian overrides.
lintian --fail-on error "$deb"
desktop-file-validate packaging/com.korvane.Utility.desktop
appstreamcli validate --no-net "$build/packaging/com.korvane.Utility.metainfo.xml"

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get install -y -q --no-install-recommends "./$deb"
trap '$SUDO apt-get remove -y -q korvane-utility >/dev/null' EXIT

relay=/usr/libexec/korvane/korvane-relay
getcap "$relay" | grep -q cap_net_raw ||
  { echo "FAIL: $relay does not carry cap_net_raw"; exit 1; }
# No other file of the package carries a capability.
while read -r file; do
  if [ -f "$file" ] && [ "$file" != "$relay" ] && [ -n "$(getcap "$file")" ]; then
    echo "FAIL: $file carries a capability: $(getcap "$file")"; exit 1
  fi
done < <(dpkg -L korvane-utility)
# The relay loads no plugins: no Qt, no GLib.
if ldd "$relay" | grep -E 'libQt|libglib|libgio|libgobject|libgmodule'; then
  echo "FAIL: $relay links a library that loads plugins"; exit 1
fi

found=$($SUDO runuser -u nobody -- /usr/bin/korvane --simulate 8 search | wc -l)
[ "$found" -eq 8 ] ||
  { echo "FAIL: the installed korvane found $found devices as nobody, not 8"; exit 1; }

for program in korvane korvane-devsim korvane-utility; do
  zgrep -q "^$program " "/usr/share/man/man1/$program.1.gz" ||
    { echo "FAIL: no manual page of $program names it"; exit 1; }
done

tshark -G protocols 2>/dev/null | grep -qP '\tkorvane$' ||
  { echo "FAIL: tshark does not find the installed dissector"; exit 1; }

# --- The probe, in a network namespace pair of this script's own.
probe_plugin="$build/tests/packaging/generic/libkorvaneprobe.so"
work=$(mktemp -d)
ns_a="kvpc-$$-a"
ns_b="kvpc-$$-b"
if_a="kvpc$$a"
if_b="kvpc$$b"
devsim_pid=""
cleanup() {
  [ -n "$devsim_pid" ] && $SUDO kill "$devsim_pid" 2>/dev/null || true
  $SUDO ip netns del "$ns_a" 2>/dev/null || true
  $SUDO ip netns del "$ns_b" 2>/dev/null || true
  rm -rf "$work"
  $SUDO apt-get remove -y -q korvane-utility >/dev/null
}
trap cleanup EXIT

mkdir -p "$work/plugins/generic" "$work/run"
cp "$probe_plugin" "$work/plugins/generic/"
report="$work/report"
touch "$report"
chmod 0755 "$work" "$work/plugins" "$work/plugins/generic"
$SUDO chown nobody "$report" "$work/run"
chmod 0700 "$work/run"

for ns in "$ns_a" "$ns_b"; do
  $SUDO ip netns add "$ns"
  $SUDO ip netns exec "$ns" sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 \
    net.ipv6.conf.default.disable_ipv6=1
done
$SUDO ip -n "$ns_a" link add "$if_a" type veth peer name "$if_b" netns "$ns_b"
$SUDO ip -n "$ns_a" link set "$if_a" up
$SUDO ip -n "$ns_b" link set "$if_b" up
$SUDO ip netns exec "$ns_b" /usr/bin/korvane-devsim --interface "$if_b" --devices 8 \
  >"$work/devsim.out" 2>&1 &
devsim_pid=$!
for _ in $(seq 100); do
  grep -q ready "$work/devsim.out" && break
  sleep 0.1
done
grep -q ready "$work/devsim.out" ||
  { echo "FAIL: korvane-devsim did not start: $(cat "$work/devsim.out")"; exit 1; }

# As nobody, in the namespace, with nothing of this shell's environment.
as_nobody() {
  $SUDO ip netns exec "$ns_a" setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$work/run" KORVANE_PROBE_REPORT="$report" "$@"
}

found=$(as_nobody timeout 60 /usr/bin/korvane --interface "$if_a" search | wc -l)
[ "$found" -eq 8 ] ||
  { echo "FAIL: nobody's korvane search found $found devices through the relay, not 8"; exit 1; }

found=$(as_nobody LD_PRELOAD="$work/plugins/generic/libkorvaneprobe.so" \
  timeout 60 /usr/bin/korvane --interface "$if_a" search | wc -l)
[ "$found" -eq 8 ] ||
  { echo "FAIL: korvane with the probe preloaded found $found devices, not 8"; exit 1; }

listed=$(as_nobody QT_PLUGIN_PATH="$work/plugins" QT_QPA_GENERIC_PLUGINS=korvaneprobe \
  QT_QPA_PLATFORM=offscreen timeout 60 /usr/bin/korvane-utility --interface "$if_a" \
  --report-startup | sed -n 's/^devices-listed \([0-9]*\).*/\1/p')
[ "$listed" = 8 ] ||
  { echo "FAIL: korvane-utility with the probe plugin listed '${listed}' devices, not 8"; exit 1; }

# The probe ran in both programs, and its raw socket was refused wherever it
# ran (a preload also reaches the timeout that starts korvane).
if ! grep -qx 'korvane: raw socket refused: .*' "$report" ||
  ! grep -qx 'korvane-utility: raw socket refused: .*' "$report" || grep -q OPEN "$report"; then
  echo "FAIL: the probe's report: $(cat "$report")"; exit 1
fi

echo "package checked: installed, 8 devices found as nobody, cap_net_raw on korvane-relay alone, a user's plugin in korvane-utility and preload in korvane refused a raw socket while both found 8 devices through the relay, manual pages there, dissector loaded"
