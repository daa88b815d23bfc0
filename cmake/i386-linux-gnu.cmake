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
