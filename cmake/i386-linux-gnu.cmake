# Builds 32-bit x86 Linux programs with the machine's own compiler (-m32, with Debian's
# lib32stdc++-12-dev, lib32gcc-12-dev and libc6-dev-i386); the x86-64 machine runs them as they
# are. Set up as a cross build so that GoogleTest is built again for 32 bits from its sources.
# The kernel's asm/ headers come from linux-libc-dev-i386-cross, searched last: the usual link
# to them is in gcc-multilib, which Debian will not install beside the other cross compilers.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -idirafter /usr/i686-linux-gnu/include")
set(CMAKE_CXX_FLAGS_INIT "-m32 -idirafter /usr/i686-linux-gnu/include")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
# A kernel built without 32-bit support cannot run the programs it builds here ("Exec format
# error"): they then run under qemu-user, as the other processors' programs do.
set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/probe32)
if(NOT DEFINED RUXA_I386_NATIVE)
  file(WRITE ${probe}.c "int main(void) { return 0; }\n")
  execute_process(COMMAND gcc -m32 ${probe}.c -o ${probe} RESULT_VARIABLE built
                  OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND ${probe} RESULT_VARIABLE ran OUTPUT_QUIET ERROR_QUIET)
  if(built EQUAL 0 AND NOT ran EQUAL 0)
    set(RUXA_I386_NATIVE OFF CACHE BOOL "Whether this machine runs 32-bit x86 programs itself")
  else()
    set(RUXA_I386_NATIVE ON CACHE BOOL "Whether this machine runs 32-bit x86 programs itself")
  endif()
endif()
if(NOT RUXA_I386_NATIVE)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
endif()
