# Cross build for 64-bit Windows with MinGW-w64; the tests run under Wine.
#
# With -DEML2PST_MINGW_PREFIX=DIR (the static prefix scripts/windows-deps.sh builds), GMime and
# wxWidgets are found there and the whole program is built; without it only what needs no
# third-party library for Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(EML2PST_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: GoogleTest and std::thread need std::mutex and friends.
set(CMAKE_C_COMPILER ${EML2PST_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${EML2PST_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${EML2PST_MINGW_TRIPLE}-windres)

# try_compile projects read this file again: they need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES EML2PST_MINGW_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${EML2PST_MINGW_TRIPLE})
if(EML2PST_MINGW_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${EML2PST_MINGW_PREFIX})
  # pkg-config sees only the prefix, and reports what a static link needs.
  set(ENV{PKG_CONFIG_LIBDIR} ${EML2PST_MINGW_PREFIX}/lib/pkgconfig:/usr/${EML2PST_MINGW_TRIPLE}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(PKG_CONFIG_ARGN --static)
  set(wxWidgets_CONFIG_EXECUTABLE ${EML2PST_MINGW_PREFIX}/bin/wx-config)
  set(wxWidgets_CONFIG_OPTIONS --static=yes)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime and libraries: the programs need nothing beside them but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Without it off_t is 32 bits and large files are out of reach of the C runtime's calls.
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

find_program(EML2PST_WINE NAMES wine wine64)
if(EML2PST_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${EML2PST_WINE})
endif()
