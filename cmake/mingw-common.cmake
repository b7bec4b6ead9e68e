# Shared settings of the mingw-w64 cross toolchains; LW_MINGW_TRIPLE and LW_MINGW_THREADS
# (the thread model: posix or win32) are set first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${LW_MINGW_TRIPLE}-gcc-${LW_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${LW_MINGW_TRIPLE}-g++-${LW_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${LW_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One self-contained executable: no libgcc or libstdc++ DLL. No time stamp in the headers,
# so that the same sources always link to the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# Release builds are what is shipped: optimised for size, unused sections dropped,
# optimised across files at link time, symbols stripped; debug builds keep their symbols.
# (Cache entries: CMake would append its own -O3 to *_INIT values.)
set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG -ffunction-sections -fdata-sections"
    CACHE STRING "Flags of release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG -ffunction-sections -fdata-sections"
    CACHE STRING "Flags of release builds")
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION_RELEASE ON)
# libstdc++'s default terminate handler names the uncaught exception's type, which links
# in its whole demangler and printf (a fifth of an executable); abort is what remains of it.
if(LW_MINGW_TRIPLE MATCHES "^i686")
  set(lw_terminate "__ZN9__gnu_cxx27__verbose_terminate_handlerEv=_abort")
else()
  set(lw_terminate "_ZN9__gnu_cxx27__verbose_terminate_handlerEv=abort")
endif()
# One link-time partition: GCC 12 splitting lwtemplate into several fails on an inherited
# constructor (an internal compiler error), and one is smaller anyway.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT
    "-s -Wl,--gc-sections -Wl,--defsym=${lw_terminate} -flto-partition=one")
