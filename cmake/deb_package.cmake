# The native release: `cmake --build build/native --target package` makes
# kestroctl_VERSION_amd64.deb, so that a rescue system gets kestroctl with
# `apt install ./kestroctl_VERSION_amd64.deb` instead of building it there.
# scripts/check-package checks it, lintian included.

set(_kestro_deb_dir ${PROJECT_SOURCE_DIR}/packaging/deb)
set(_kestro_maintainer "Kestro maintainers <maintainers@users.noreply.c-seed-1e141f33.example>")

# The package's version is the project's; its changelog must say so, or
# lintian and apt's changelog view would show another.
file(STRINGS ${_kestro_deb_dir}/changelog _kestro_changelog_top LIMIT_COUNT 1)
if(NOT _kestro_changelog_top MATCHES "^kestroctl \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/deb/changelog starts with '${_kestro_changelog_top}': "
                      "add an entry for kestroctl ${PROJECT_VERSION} at its top")
endif()

# Debian policy: manual pages and changelogs are installed compressed with
# gzip -9, and -n keeps the build time out of them. The package is native
# (Kestro is its own upstream), so its changelog is changelog.gz.
configure_file(${PROJECT_SOURCE_DIR}/docs/kestroctl.1.in ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.1 @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.1.gz
  COMMAND gzip -9n < kestroctl.1 > kestroctl.1.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.1
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  COMMENT "Compressing the manual page")
# The Russian page is the English one's source with each paragraph's Russian
# text from docs/po/kestroctl.1.ru.po: po4a-translate, which refuses a
# catalogue that does not translate every paragraph (-k 100), so a page
# changed in English alone stops the build until scripts/update-po and a
# translation bring the catalogue up to it.
find_program(KESTRO_PO4A_TRANSLATE po4a-translate REQUIRED)
set(_kestro_man_ru_po ${PROJECT_SOURCE_DIR}/docs/po/kestroctl.1.ru.po)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.ru.1
  COMMAND ${KESTRO_PO4A_TRANSLATE} -f man -k 100 -M UTF-8 -L UTF-8
          -m ${PROJECT_SOURCE_DIR}/docs/kestroctl.1.in -p ${_kestro_man_ru_po} -l kestroctl.ru.1.in
  COMMAND sed "s/@PROJECT_VERSION@/${PROJECT_VERSION}/g" kestroctl.ru.1.in > kestroctl.ru.1
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/kestroctl.1.in ${_kestro_man_ru_po}
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  COMMENT "Making the Russian manual page")
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.ru.1.gz
  COMMAND gzip -9n < kestroctl.ru.1 > kestroctl.ru.1.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.ru.1
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  COMMENT "Compressing the Russian manual page")
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9n < ${_kestro_deb_dir}/changelog > changelog.gz
  DEPENDS ${_kestro_deb_dir}/changelog
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  COMMENT "Compressing the Debian changelog")
add_custom_target(kestroctl_deb_docs ALL
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.1.gz ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.ru.1.gz
          ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)

install(TARGETS kestroctl RUNTIME DESTINATION bin)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestroctl.ru.1.gz DESTINATION share/man/ru/man1 RENAME kestroctl.1.gz)
# kestroctl finds its Russian texts at ../share/locale from its own folder.
install(FILES ${KESTRO_RU_MO} DESTINATION share/locale/ru/LC_MESSAGES)
install(FILES ${_kestro_deb_dir}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION share/doc/kestroctl)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestroctl)
set(CPACK_PACKAGE_VENDOR Kestro)
set(CPACK_PACKAGE_CONTACT ${_kestro_maintainer})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian's layout: directories 0755 whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${_kestro_maintainer})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the libraries' packages with the versions this build
# needs: libhivex0, libstdc++6, libgcc-s1, libc6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "switches Windows settings in the hive files of an offline Windows\n"
    "kestroctl is the command-line side of Kestro, a Windows XP settings utility.\n"
    "On Linux it works on the registry hive files of a Windows installation\n"
    "mounted from its disk: it lists, sets, saves and applies Kestro's settings\n"
    "(Task Manager, registry editor, Start menu and Explorer restrictions,\n"
    "removable-device drivers, CD autorun and others), and exports them as .reg\n"
    "or Group Policy Registry.pol files.\n"
    "\n"
    "It is meant for a rescue system, when malware or a departed administrator\n"
    "has locked a Windows down. Each changed hive is checked, written beside the\n"
    "original, verified and renamed over it, with a backup of the original.")
include(CPack)
