# Cross build for 64-bit Windows with MinGW-w64; the tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(EML2PST_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex and friends.
set(CMAKE_C_COMPILER ${EML2PST_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${EML2PST_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${EML2PST_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${EML2PST_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: Wine would not find libstdc++/libwinpthread DLLs next to the executables.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(EML2PST_WINE NAMES wine wine64)
if(EML2PST_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${EML2PST_WINE})
endif()
