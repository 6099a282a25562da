# Cross build for 64-bit Windows with Debian's mingw-w64 (package mingw-w64), the posix thread
# model (std::thread and std::mutex through winpthreads). The runtime libraries are linked
# statically, so the executables need no DLLs beside them. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CALVORA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CALVORA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CALVORA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CALVORA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CALVORA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread inside each executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the test executables through Wine.
find_program(CALVORA_WINE NAMES wine wine64)
if(CALVORA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CALVORA_WINE})
endif()
