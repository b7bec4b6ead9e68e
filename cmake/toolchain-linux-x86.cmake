# 32-bit x86 Linux (Debian's g++-multilib), linked statically and run under qemu-i386
# (Debian's qemu-user): the 32-bit core's unit tests, on any x86-64 kernel.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
find_program(LW_QEMU_I386 qemu-i386)
if(NOT LW_QEMU_I386)
  message(FATAL_ERROR "qemu-i386 not found (Debian: apt-get install qemu-user)")
endif()
# CTest runs the test programs through it.
set(CMAKE_CROSSCOMPILING_EMULATOR ${LW_QEMU_I386})
