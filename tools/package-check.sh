#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks it the
# way a user meets it: lintian (no errors), the desktop entry and the
# metainfo validated, then installed, the installed korvane run by an
# unprivileged user on the simulated LAN, its capability checked, the manual
# pages found, the dissector found by tshark, and the package removed again.
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
cmake --build "$build" --target package
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

getcap /usr/bin/korvane | grep -q cap_net_raw ||
  { echo "FAIL: /usr/bin/korvane does not carry cap_net_raw"; exit 1; }
getcap /usr/bin/korvane-utility | grep -q cap_net_raw ||
  { echo "FAIL: /usr/bin/korvane-utility does not carry cap_net_raw"; exit 1; }

found=$($SUDO runuser -u nobody -- /usr/bin/korvane --simulate 8 search | wc -l)
[ "$found" -eq 8 ] ||
  { echo "FAIL: the installed korvane found $found devices as nobody, not 8"; exit 1; }

for program in korvane korvane-devsim korvane-utility; do
  zgrep -q "^$program " "/usr/share/man/man1/$program.1.gz" ||
    { echo "FAIL: no manual page of $program names it"; exit 1; }
done

tshark -G protocols 2>/dev/null | grep -qP '\tkorvane$' ||
  { echo "FAIL: tshark does not find the installed dissector"; exit 1; }

echo "package checked: installed, 8 devices found as nobody, capability set, manual pages there, dissector loaded"
