#!/usr/bin/env bash
# Builds the part of Qt that korvane-utility needs (Core, Gui, Widgets, Test
# and the Windows platform plugin) for Windows with mingw-w64, from Debian's
# own qt6-base source, into a cache folder outside the build tree:
#   ${KORVANE_QT_WINDOWS:-/var/cache/korvane/qt6-windows}
# Debian ships no Qt for mingw. The source comes through apt (a deb-src
# entry of this script's own, in a private apt state; the system's apt
# configuration is not touched) and must match the host's Qt, whose moc,
# rcc and uic serve as the host tools. Takes some 30 minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

cache=${KORVANE_QT_WINDOWS:-/var/cache/korvane/qt6-windows}
if [ -f "$cache/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  echo "Qt for Windows is in $cache already"
  exit 0
fi
work=${KORVANE_QT_WORK:-/var/tmp/korvane-qt6-windows}
mkdir -p "$work/apt/lists/partial" "$work/apt/sources"
host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)

# The source of the host's Qt, through a private apt state.
cat >"$work/apt/sources/debian-src.sources" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $(. /etc/os-release && echo "$VERSION_CODENAME")
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
apt_private=(-o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$work/apt/sources"
  -o Dir::State::Lists="$work/apt/lists")
if [ ! -d "$work/src" ]; then
  apt-get "${apt_private[@]}" update -q
  (cd "$work" && apt-get "${apt_private[@]}" source --download-only "qt6-base=$host_version")
  mkdir -p "$work/src"
  tar -xf "$work"/qt6-base_*.orig.tar.xz -C "$work/src" --strip-components=1
fi

# Debian's repacked source has no wintab headers: tablet events off. With
# OpenGL off the platform plugin does not build (qwindowswindow.cpp needs
# QOpenGLStaticContext), so desktop OpenGL (mingw's opengl32) stays on.
cmake -G Ninja -S "$work/src" -B "$work/build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$cache" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DBUILD_SHARED_LIBS=ON -DQT_FEATURE_tabletevent=OFF \
  -DQT_FEATURE_opengl=ON -DQT_FEATURE_opengl_desktop=ON -DQT_FEATURE_opengles2=OFF \
  -DQT_FEATURE_sql=OFF -DQT_FEATURE_network=OFF -DQT_FEATURE_dbus=OFF \
  -DQT_FEATURE_printsupport=OFF -DQT_FEATURE_concurrent=OFF -DQT_FEATURE_xml=OFF \
  -DQT_FEATURE_vulkan=OFF -DQT_FEATURE_sql_sqlite=OFF -DQT_FEATURE_system_zlib=OFF \
  -DQT_FEATURE_system_pcre2=OFF -DQT_FEATURE_system_freetype=OFF -DQT_FEATURE_system_harfbuzz=OFF \
  -DQT_FEATURE_system_libpng=OFF -DQT_FEATURE_system_libjpeg=OFF -DQT_FEATURE_system_doubleconversion=OFF \
  -DQT_FEATURE_icu=OFF -DQT_FEATURE_fontconfig=OFF
cmake --build "$work/build" -j "$(nproc)"
cmake --install "$work/build"
echo "Qt for Windows is in $cache"
