# The Debian package (cpack -G DEB, run by scripts/package.sh): tessera and tessera-cli with
# their desktop integration, the copyright and changelog Debian's policy asks for, and the
# dependencies dpkg-shlibdeps finds in the programs.
set(TESSERA_MAINTAINER "Tessera developers <${TESSERA_CONTACT_EMAIL}>")

# The copyright file in Debian's machine-readable form, the licence text taken from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" licence "${licence}")
string(REGEX REPLACE "\n+$" "" licence "${licence}")
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REGEX REPLACE "\n" "\n " licence "${licence}")
file(WRITE ${PROJECT_BINARY_DIR}/packaging/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: Tessera\n"
     "Upstream-Contact: ${TESSERA_MAINTAINER}\n"
     "\n"
     "Files: *\n"
     "Copyright: 2026 Tessera developers\n"
     "License: Expat\n"
     " ${licence}\n")

# The changelog's entries are signed by the maintainer.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
                   COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/packaging/changelog > ${PROJECT_BINARY_DIR}/packaging/changelog.gz
                   DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog)
add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessera)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessera)
set(CPACK_PACKAGE_VENDOR "Tessera developers")
set(CPACK_PACKAGE_CONTACT "${TESSERA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "install mod packages into a GTA3 game folder")
# Lines of the long description stay within 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Tessera installs mod packages (a .zpk with its .dir) into a player's copy
of the game GTA3. Files named like one of the game's stock files replace that
file, the original kept as .old; textures, models and cut-scene files are
appended to the game's archives; anything else is refused. Nothing of the game
is ever deleted, and an install that fails or is interrupted is rolled back.
.
This package holds the desktop program tessera and the console program
tessera-cli, which installs, previews, checks, lists, extracts and packs.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a platform plugin, which no library links to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
