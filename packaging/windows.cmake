# The Windows zip:
#   cmake --build --preset windows --target package
# writes korvane-utility-VERSION-windows-x64.zip: the command line and the
# emulator (linked with a static runtime, so no DLL of the compiler goes with
# them), a README for Windows and the licence.
install(TARGETS korvane korvane-devsim RUNTIME DESTINATION .)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/README.txt DESTINATION .)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/copyright DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/docs/command-line.md DESTINATION .)

# The desktop program, where Qt for Windows was found (tools/windows-qt.sh):
# with Qt's DLLs, its Windows platform plugin, and the compiler's runtime
# DLLs that Qt was built against.
if(TARGET korvane-utility)
  install(TARGETS korvane-utility RUNTIME DESTINATION .)
  # Qt6_DIR is PREFIX/lib/cmake/Qt6.
  get_filename_component(KORVANE_QT_ROOT "${Qt6_DIR}/../../.." ABSOLUTE)
  set(KORVANE_QT_BIN ${KORVANE_QT_ROOT}/bin)
  install(FILES ${KORVANE_QT_BIN}/Qt6Core.dll ${KORVANE_QT_BIN}/Qt6Gui.dll
                ${KORVANE_QT_BIN}/Qt6Widgets.dll DESTINATION .)
  install(FILES ${KORVANE_QT_ROOT}/plugins/platforms/qwindows.dll DESTINATION platforms)
  foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE KORVANE_RUNTIME_DLL OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${KORVANE_RUNTIME_DLL}")
      message(FATAL_ERROR "the compiler does not know where ${runtime} is")
    endif()
    install(FILES ${KORVANE_RUNTIME_DLL} DESTINATION .)
  endforeach()
endif()

set(CPACK_GENERATOR "ZIP")
set(CPACK_PACKAGE_NAME "korvane-utility")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Korvane")
set(CPACK_PACKAGE_FILE_NAME "korvane-utility-${PROJECT_VERSION}-windows-x64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
