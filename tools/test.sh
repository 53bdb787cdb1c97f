#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test:
#  - the normal build (warnings as errors): unit, GUI (offscreen) and, as
#    root, the end-to-end tests over veth pairs in network namespaces; then
#    its Debian package, installed, tried as an unprivileged user, removed;
#  - the Windows build (mingw-w64) under wine: unit tests, the programs, a
#    search over veth, the zip (tools/windows-test.sh);
#  - the address+undefined and the thread sanitizer builds: unit tests;
#  - the fuzz targets, each for a short run.
# Set KORVANE_QUICK=1 to skip the sanitizer builds and the fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
jobs=$(nproc)

cmake --preset ci
cmake --build --preset ci -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --preset ci -j "$jobs" --timeout 600
# The Debian package of that build: checked, installed, tried, removed.
tools/package-check.sh build/ci
# Windows: cross-built, its tests and a veth search run under wine, its zip.
tools/windows-test.sh build/ci/src/korvane-devsim

if [ "${KORVANE_QUICK:-0}" != "1" ]; then
  for preset in asan tsan; do
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j "$jobs" --target korvane_unit_tests
    QT_QPA_PLATFORM=offscreen ctest --preset "$preset" -j "$jobs" --timeout 600
  done
  if [ -x tools/fuzz.sh ]; then
    tools/fuzz.sh
  fi
fi
echo "all tests passed"
