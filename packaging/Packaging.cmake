# The Debian package: cpack -G DEB in the build folder gives kestrano_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrano)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrano developers <kestrano@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio level to OSC for show control")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrano meters one audio input twenty times a second, maps its level to a
value and sends it as an OSC message over UDP or TCP to the show-control
application Zandorex. It runs with a window, or headless as a systemd user
service, on PulseAudio or PipeWire. kestrano-osc sends, prints and decodes OSC
messages to check a show network.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# A Debian revision: the package is not native to Debian, and its changelog is changelog.Debian.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kestrano.example.org/")
# The library packages come from the binaries themselves (dpkg-shlibdeps), not from a list here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# It runs without a sound server (and says so), but meters nothing.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio")
# Directories 0755 whatever the umask of the machine that builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Debian wants a copyright file and a compressed changelog in the package's doc folder.
set(kestrano_changelog ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian)
add_custom_command(OUTPUT ${kestrano_changelog}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog.Debian
            ${kestrano_changelog}
    COMMAND gzip -9nf ${kestrano_changelog}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog.Debian
    VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${kestrano_changelog}.gz)
install(FILES packaging/copyright ${kestrano_changelog}.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrano)

include(CPack)
