# Shared settings of the mingw-w64 cross toolchains; LW_MINGW_TRIPLE is set first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${LW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LW_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One self-contained executable: no libgcc, libstdc++ or winpthread DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
