# The Windows download (cpack -G ZIP, `cmake --build build-win --target package`):
# tessera-1.2.0-win64.zip holding tessera.exe, tessera-cli.exe, the README and the licence.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tessera)
set(CPACK_PACKAGE_VENDOR "Tessera developers")
set(CPACK_PACKAGE_FILE_NAME tessera-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
