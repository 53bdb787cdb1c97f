#!/usr/bin/env bash
# The Windows stage: cross-builds korvane.exe, korvane-devsim.exe and the
# unit tests with mingw-w64 (the windows preset) and runs, under wine:
#  - the unit tests;
#  - korvane.exe --version, and --simulate 8 search --json (its JSON checked);
#  - the message and exit status 3 without Npcap (wine's wpcap.dll disabled);
#  - as root: a search by korvane.exe over a veth pair between two network
#    namespaces, against korvane-devsim (the Linux build, $1, if given) on
#    the other end; wine's wpcap.dll hands the frames to the host's libpcap;
#  - the zip: built, listed, unpacked, and its korvane.exe run from a clean
#    wine prefix;
#  - where Qt for Windows is cached (tools/windows-qt.sh), the desktop
#    program: built, zipped with Qt, its widget tests run on the offscreen
#    platform, and a picture of its window taken.
# Every wine prefix is a throwaway folder; nothing lands in the home folder.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
devsim_linux=${1:-}
jobs=$(nproc)
# Debian's wine64 puts the loader and the server in /usr/lib/wine.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
build=build/windows

cmake --preset windows
cmake --build --preset windows -j "$jobs"

scratch=$(mktemp -d /tmp/korvane-windows.XXXXXX)
namespaces=()
prefixes=()
cleanup() {
  for p in "${prefixes[@]}"; do WINEPREFIX=$p "$wineserver" -k 2>/dev/null || true; done
  for ns in "${namespaces[@]}"; do
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
# A wine prefix of its own for each use: a wineserver and its services live
# in the network namespace of the first program that started them.
# new_prefix NAME [COMMAND PREFIX...]: sets $prefix to a fresh, booted one.
new_prefix() {
  prefix="$scratch/prefix-$1"
  shift
  mkdir -p "$prefix"
  prefixes+=("$prefix")
  "$@" env WINEPREFIX="$prefix" "$wine" cmd /c exit 0 >/dev/null 2>&1 || true
}
run_wine() { # PREFIX PROGRAM ARGS...
  local p=$1
  shift
  WINEPREFIX=$p "$wine" "$@"
}
fail() {
  echo "windows stage: $*" >&2
  exit 1
}

new_prefix main

echo "== unit tests under wine"
run_wine "$prefix" "$build/tests/korvane_unit_tests.exe" --gtest_brief=1

echo "== korvane.exe --version"
version=$(run_wine "$prefix" "$build/src/korvane.exe" --version | tr -d '\r')
[[ "$version" =~ ^korvane\ [0-9]+\.[0-9]+$ ]] || fail "unexpected --version: $version"
echo "$version"

check_search_json() { # FILE: the eight simulated devices, in serial order
  jq -e 'length == 8 and ([.[].serial] == ([range(2801795073; 2801795081)] | map(tostring)))
         and all(.[]; (.mac | test("^02-19-A7-00-00-0[1-8]$")) and .adapter != "")' "$1" \
    >/dev/null || fail "the search JSON is not the eight devices: $(cat "$1")"
}

echo "== korvane.exe --simulate 8 search --json"
run_wine "$prefix" "$build/src/korvane.exe" --simulate 8 search --json >"$scratch/sim.json"
check_search_json "$scratch/sim.json"
echo "8 devices"

echo "== without Npcap"
for command in adapters search; do
  status=0
  WINEDLLOVERRIDES="wpcap=d" run_wine "$prefix" "$build/src/korvane.exe" $command \
    >"$scratch/no-npcap.out" 2>"$scratch/no-npcap.err" || status=$?
  [ "$status" = 3 ] || fail "$command without Npcap ended with $status, not 3"
  grep -q "Npcap is needed to reach real adapters" "$scratch/no-npcap.err" ||
    fail "$command without Npcap did not say why: $(cat "$scratch/no-npcap.err")"
  grep -q -- "--simulate N works without it" "$scratch/no-npcap.err" ||
    fail "$command without Npcap did not offer --simulate"
done
sed 's/^/  /' "$scratch/no-npcap.err"

if [ "$(id -u)" = 0 ] && [ -n "$devsim_linux" ] && [ -x "$devsim_linux" ]; then
  echo "== korvane.exe over a veth pair against korvane-devsim"
  tag=kw$$
  ip netns add "${tag}a"
  namespaces+=("${tag}a")
  ip netns add "${tag}b"
  namespaces+=("${tag}b")
  ip link add "${tag}0" netns "${tag}a" type veth peer name "${tag}1" netns "${tag}b"
  for side in a:0 b:1; do
    ip -n "${tag}${side%%:*}" link set lo up
    ip -n "${tag}${side%%:*}" link set "${tag}${side##*:}" up
  done
  ip netns exec "${tag}b" "$devsim_linux" --interface "${tag}1" --devices 8 \
    >"$scratch/devsim.out" 2>"$scratch/devsim.err" &
  devsim=$!
  for _ in $(seq 100); do grep -q ready "$scratch/devsim.out" && break; sleep 0.1; done
  grep -q ready "$scratch/devsim.out" || fail "korvane-devsim did not start: $(cat "$scratch/devsim.err")"
  main_prefix=$prefix
  new_prefix netns ip netns exec "${tag}a"
  ns_prefix=$prefix
  prefix=$main_prefix
  ip netns exec "${tag}a" env WINEPREFIX="$ns_prefix" "$wine" "$build/src/korvane.exe" adapters
  ip netns exec "${tag}a" env WINEPREFIX="$ns_prefix" "$wine" "$build/src/korvane.exe" \
    search --json >"$scratch/veth.json"
  check_search_json "$scratch/veth.json"
  jq -e 'all(.[]; .adapter == "'"${tag}0"'")' "$scratch/veth.json" >/dev/null ||
    fail "the devices were not found on ${tag}0"
  echo "8 devices on ${tag}0"
  kill -INT "$devsim"
  wait "$devsim" || fail "korvane-devsim did not end cleanly: $(cat "$scratch/devsim.err")"
else
  echo "== the veth search is skipped: it needs root and the Linux korvane-devsim"
fi

echo "== the zip"
cmake --build --preset windows --target package
zip=$(ls "$build"/korvane-utility-*-windows-x64.zip)
unzip -l "$zip"
unzip -q "$zip" -d "$scratch/unpacked"
new_prefix clean
run_wine "$prefix" "$scratch"/unpacked/korvane-utility-*-windows-x64/korvane.exe --simulate 8 search |
  tr -d '\r' | tee "$scratch/zip.out"
[ "$(grep -c '^28017950[0-9][0-9]  ' "$scratch/zip.out")" = 8 ] ||
  fail "the zipped korvane.exe did not list the eight devices"

# The desktop program, where Qt for Windows is cached (tools/windows-qt.sh
# builds it; CI machines start without it and skip this part). Its skin
# comes drawn ahead of time by korvane-skin-render of the Linux build.
qt_windows=${KORVANE_QT_WINDOWS:-/var/cache/korvane/qt6-windows}
skin_render=${devsim_linux:+$(dirname "$devsim_linux")/ui/korvane-skin-render}
if [ -f "$qt_windows/lib/cmake/Qt6/Qt6Config.cmake" ] && [ -x "${skin_render:-}" ]; then
  echo "== the desktop program (Qt from $qt_windows)"
  QT_QPA_PLATFORM=offscreen "$skin_render" "$scratch/skin"
  cmake --preset windows -B build/windows-gui -DKORVANE_BUILD_GUI=ON \
    -DKORVANE_SKIN_PRERENDERED=ON -DKORVANE_SKIN_PNG_DIR="$scratch/skin" \
    -DCMAKE_PREFIX_PATH="$qt_windows" -DQT_HOST_PATH=/usr
  cmake --build build/windows-gui -j "$jobs"
  cmake --build build/windows-gui --target package
  gui_zip=$(ls build/windows-gui/korvane-utility-*-windows-x64.zip)
  unzip -l "$gui_zip"
  unzip -q "$gui_zip" -d "$scratch/gui"
  shot=${KORVANE_WINDOWS_SHOT:-$scratch/main-window.png}
  timeout 180 xvfb-run -a env WINEPREFIX="$prefix" "$wine" \
    "$scratch"/gui/korvane-utility-*-windows-x64/korvane-utility.exe --simulate 8 --grab "$shot" ||
    fail "korvane-utility.exe did not end with its picture within 3 minutes"
  [ -s "$shot" ] || fail "korvane-utility.exe wrote no picture of its window"
  echo "the window's picture: $shot"
  # The widget tests on the offscreen platform, after the picture (in a
  # prefix where they had run, the window program did not come up under
  # Xvfb). Qt's DLLs and mingw's runtime are found through WINEPATH, the
  # platform plugin beside each program (wine passes no QT_* variable on to
  # Windows programs).
  gui_started=$(date +%s)
  mingw_runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
  gui_path="Z:${qt_windows//\//\\}\\bin;Z:${mingw_runtime//\//\\};Z:\\usr\\x86_64-w64-mingw32\\lib"
  for dir in build/windows-gui/tests/gui build/windows-gui/src/ui; do
    mkdir -p "$dir/platforms"
    cp "$qt_windows/plugins/platforms/qoffscreen.dll" "$dir/platforms/"
  done
  failed=()
  for test in build/windows-gui/tests/gui/test_*.exe; do
    name=$(basename "$test" .exe)
    platform=(-platform offscreen)
    [ "$name" = test_app ] && platform=() # no QApplication: it starts the program offscreen
    if (cd "$(dirname "$test")" && WINEPREFIX=$prefix WINEPATH="$gui_path" timeout 600 \
      "$wine" "$name.exe" "${platform[@]}" -o "$name.txt,txt" >/dev/null 2>&1); then
      echo "$name: $(grep '^Totals' "$(dirname "$test")/$name.txt" | tr -d '\r')"
    else
      failed+=("$name")
      tr -d '\r' <"$(dirname "$test")/$name.txt" 2>/dev/null | grep -A3 -E '^(FAIL|QFATAL)' || true
    fi
  done
  [ ${#failed[@]} = 0 ] || fail "widget tests failed under wine: ${failed[*]}"
  echo "the widget tests passed under wine in $(($(date +%s) - gui_started)) s"
else
  echo "== the desktop program is skipped: no Qt for Windows in $qt_windows (tools/windows-qt.sh)"
fi

echo "windows stage passed in $(($(date +%s) - started)) s"
