# The Debian package: `cpack -G DEB` in the build folder writes
# calvora-audio-mixer_<version>_<arch>.deb with what `cmake --install` installs, and the
# documents a Debian package carries: the copyright, the changelog and the manual pages.

# The manual pages: the utility's written here, calvora-ctl's made from its --help.
find_program(HELP2MAN help2man REQUIRED)
set(CALVORA_MAN ${CMAKE_BINARY_DIR}/man)
configure_file(${CMAKE_CURRENT_LIST_DIR}/man/calvora-audio-mixer.1.in
               ${CALVORA_MAN}/calvora-audio-mixer.1 @ONLY)
add_custom_command(
  OUTPUT ${CALVORA_MAN}/calvora-ctl.1
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
          "--name=control a running Calvora Audio Mixer from scripts"
          --output=${CALVORA_MAN}/calvora-ctl.1 $<TARGET_FILE:calvora-ctl>
  # The help's JSON examples have no spaces to break a line at: print them as they are.
  COMMAND sed -i -e [[/^[{"]/i .nf]] -e [[/^[{"]/a .fi]] ${CALVORA_MAN}/calvora-ctl.1
  DEPENDS calvora-ctl
  COMMENT "Making the manual page of calvora-ctl" VERBATIM)
# Debian keeps documents compressed with gzip -9n (no name, no time stamp: reproducible).
set(CALVORA_PACKAGE_DOCS)
foreach(pair "man/calvora-audio-mixer.1" "man/calvora-ctl.1" "doc/changelog")
  set(gzipped ${CMAKE_BINARY_DIR}/${pair}.gz)
  if(pair STREQUAL "doc/changelog")
    set(plain ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)
  else()
    set(plain ${CMAKE_BINARY_DIR}/${pair})
  endif()
  add_custom_command(OUTPUT ${gzipped}
                     COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${plain} ${gzipped}
                     DEPENDS ${plain} VERBATIM)
  list(APPEND CALVORA_PACKAGE_DOCS ${gzipped})
endforeach()
add_custom_target(calvora_package_docs ALL DEPENDS ${CALVORA_PACKAGE_DOCS})
install(FILES ${CMAKE_BINARY_DIR}/man/calvora-audio-mixer.1.gz ${CMAKE_BINARY_DIR}/man/calvora-ctl.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/calvora-audio-mixer)

set(CPACK_PACKAGE_NAME calvora-audio-mixer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Calvora")
set(CALVORA_PACKAGE_MAINTAINER
    "Calvora Audio Mixer maintainers <maintainers@calvora-audio-mixer.example>"
    CACHE STRING "The Maintainer of the Debian package")
set(CPACK_PACKAGE_CONTACT "${CALVORA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dead-air detector with LED meter and mixer line control")
# Debian's description: lines under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Calvora Audio Mixer listens to the input of one sound card, shows both\n\
channels on an LED meter, decides when the signal has fallen silent and\n\
when sound has come back, reports that and every captured block of audio\n\
to controlling programs over the session bus, and mutes or restores one or\n\
two mixer lines with timed fades.\n\
.\n\
calvora-ctl controls it from scripts and runs commands on its events.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The shared libraries the programs link (Qt 6, ALSA, sd-bus, libmicrohttpd and GnuTLS, the C++
# runtime) become Depends through dpkg-shlibdeps (Qt's platform plugins come with libqt6gui6).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A session bus for controlling programs, amixer to look at the lines.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus-session-bus | dbus-user-session, alsa-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
