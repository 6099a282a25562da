# The Debian package: `cpack -G DEB` in the build folder writes
# calvora-audio-mixer_<version>_<arch>.deb with what `cmake --install` installs.
set(CPACK_PACKAGE_NAME calvora-audio-mixer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Calvora")
set(CPACK_PACKAGE_CONTACT "Calvora Audio Mixer maintainers <calvora-audio-mixer@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "dead-air detector: LED level meter, silence verdicts, mixer line mute and restore")
set(CPACK_PACKAGE_DESCRIPTION
    "Calvora Audio Mixer listens to the input of one sound card, shows both channels on an LED\n\
meter, decides when the signal has fallen silent and when sound has come back, reports that\n\
and every captured block of audio to controlling programs over the session bus, and mutes or\n\
restores one or two mixer lines with timed fades. calvora-ctl controls it from scripts.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The shared libraries the programs link (Qt 6, ALSA, sd-bus, the C++ runtime) become Depends
# through dpkg-shlibdeps (Qt's platform plugins come with libqt6gui6).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A session bus for controlling programs, amixer to look at the lines.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus-session-bus | dbus-user-session, alsa-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
