# SPDX-License-Identifier: Apache-2.0
# Cross-compiles the module and its tests for 32-bit x86 Linux, to run them under user-mode
# emulation (qemu-i386), which needs no kernel support for 32-bit code. The arithmetic and record
# layouts are those of the Windows target: scalar SSE2 doubles, and doubles aligned to 8 bytes in
# records (the i386 Linux ABI aligns them to 4, Windows to 8).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -malign-double")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -malign-double")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /usr/i686-linux-gnu)
