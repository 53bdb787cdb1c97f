# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, so
# that std::thread and std::mutex are there).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVANE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# CLI11 and nlohmann-json are header-only: their CMake packages from the
# host's /usr/share/cmake serve the cross build as they are.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Run the test programs under wine when CTest or gtest_discover_tests asks.
find_program(KORVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANE_WINE})
endif()
