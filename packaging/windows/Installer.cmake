# The Windows installer, calvora-audio-mixer-<version>-setup.exe (NSIS's makensis, Debian
# package nsis), and a portable zip of the same files, both in the build folder.
set(CALVORA_WINDOWS_STAGE ${CMAKE_BINARY_DIR}/calvora-audio-mixer-${PROJECT_VERSION})
set(CALVORA_SETUP ${CMAKE_BINARY_DIR}/calvora-audio-mixer-${PROJECT_VERSION}-setup.exe)
set(CALVORA_ZIP ${CMAKE_BINARY_DIR}/calvora-audio-mixer-${PROJECT_VERSION}-windows.zip)
set(CALVORA_ICON ${PROJECT_SOURCE_DIR}/src/ui/win32/icons/calvora.ico)
# The licence as Windows shows text: with CRLF line ends.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REPLACE "\n" "\r\n" licence "${licence}")
set(CALVORA_LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt)
file(WRITE ${CMAKE_BINARY_DIR}/LICENSE.crlf "${licence}")
configure_file(${CMAKE_BINARY_DIR}/LICENSE.crlf ${CALVORA_LICENSE} COPYONLY)  # only when changed
# The station monitor's launcher, installed with that option alone: cmd reads a batch file
# with CRLF line ends reliably (its jumps to labels need them).
file(READ ${CMAKE_CURRENT_LIST_DIR}/station-monitor.cmd launcher)
string(REPLACE "\n" "\r\n" launcher "${launcher}")
set(CALVORA_STATION_MONITOR ${CMAKE_BINARY_DIR}/station-monitor.cmd)
file(WRITE ${CMAKE_BINARY_DIR}/station-monitor.crlf "${launcher}")
configure_file(${CMAKE_BINARY_DIR}/station-monitor.crlf ${CALVORA_STATION_MONITOR} COPYONLY)
# Both take the programs from one folder, stripped of their debugging information.
set(CALVORA_PROGRAM ${CALVORA_WINDOWS_STAGE}/calvora-audio-mixer.exe)
set(CALVORA_CTL ${CALVORA_WINDOWS_STAGE}/calvora-ctl.exe)
configure_file(${CMAKE_CURRENT_LIST_DIR}/calvora-audio-mixer.nsi.in
               ${CMAKE_BINARY_DIR}/calvora-audio-mixer.nsi @ONLY)
add_custom_command(
  OUTPUT ${CALVORA_PROGRAM} ${CALVORA_CTL} ${CALVORA_WINDOWS_STAGE}/LICENSE.txt
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CALVORA_WINDOWS_STAGE}
  COMMAND ${CMAKE_STRIP} -o ${CALVORA_PROGRAM} $<TARGET_FILE:calvora-audio-mixer>
  COMMAND ${CMAKE_STRIP} -o ${CALVORA_CTL} $<TARGET_FILE:calvora-ctl>
  COMMAND ${CMAKE_COMMAND} -E copy ${CALVORA_LICENSE} ${CALVORA_WINDOWS_STAGE}
  COMMAND ${CMAKE_COMMAND} -E touch ${CALVORA_WINDOWS_STAGE}/LICENSE.txt
  DEPENDS calvora-audio-mixer calvora-ctl ${CALVORA_LICENSE}
  COMMENT "Gathering the Windows programs")
set(staged ${CALVORA_PROGRAM} ${CALVORA_CTL} ${CALVORA_WINDOWS_STAGE}/LICENSE.txt)
add_custom_command(
  OUTPUT ${CALVORA_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${CALVORA_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${CALVORA_ZIP} --format=zip
          calvora-audio-mixer-${PROJECT_VERSION}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  DEPENDS ${staged}
  COMMENT "Packing the portable zip")
set(packages ${CALVORA_ZIP})

find_program(CALVORA_MAKENSIS makensis)
if(CALVORA_MAKENSIS)
  add_custom_command(
    OUTPUT ${CALVORA_SETUP}
    COMMAND ${CALVORA_MAKENSIS} -V2 -NOCD ${CMAKE_BINARY_DIR}/calvora-audio-mixer.nsi
    DEPENDS ${staged} ${CALVORA_ICON} ${CALVORA_STATION_MONITOR}
            ${CMAKE_BINARY_DIR}/calvora-audio-mixer.nsi
    COMMENT "Making the installer with NSIS")
  list(APPEND packages ${CALVORA_SETUP})
else()
  message(WARNING "makensis not found (apt-get install nsis): no Windows installer")
endif()
add_custom_target(calvora_windows_packages ALL DEPENDS ${packages})
