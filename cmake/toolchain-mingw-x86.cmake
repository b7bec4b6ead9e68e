set(LW_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR X86)
# The win32 thread model: the posix one links all of winpthread in through the 32-bit
# unwinder, an eighth of the executable. Without std::thread and std::mutex (GCC 12) the
# unit tests cannot be built in it; they could not run here anyway.
set(LW_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# 32-bit Windows programs cannot run on this machine: built and inspected only.
