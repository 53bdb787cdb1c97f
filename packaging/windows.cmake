# The Windows zip:
#   cmake --build --preset windows --target package
# writes korvane-utility-VERSION-windows-x64.zip: the programs (linked with a
# static runtime, so no DLL of the compiler goes with them), a README for
# Windows and the licence.
install(TARGETS korvane korvane-devsim RUNTIME DESTINATION .)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/README.txt DESTINATION .)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/copyright DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/docs/command-line.md DESTINATION .)

set(CPACK_GENERATOR "ZIP")
set(CPACK_PACKAGE_NAME "korvane-utility")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Korvane")
set(CPACK_PACKAGE_FILE_NAME "korvane-utility-${PROJECT_VERSION}-windows-x64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
