# Cross build for the recorder itself: 32-bit ARM Linux, hard-float (Hi3536, arm-linux-gnueabihf).
#
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
#
# Compilers come from Debian's g++-arm-linux-gnueabihf; json-c, SQLite, OpenSSL, zlib and
# GoogleTest are Debian's armhf packages installed side by side through multiarch
# (scripts/deps-armhf.sh), so their headers sit in /usr/include[/arm-linux-gnueabihf] and their
# libraries in /usr/lib/arm-linux-gnueabihf. Tests run under qemu-user, named explicitly below:
# the machine needs no binfmt registration, and no armhf program is ever started by the kernel.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(NVR_CROSS_TRIPLE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER ${NVR_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${NVR_CROSS_TRIPLE}-g++)
set(CMAKE_STRIP ${NVR_CROSS_TRIPLE}-strip CACHE FILEPATH "strip for the target")
# Code is built for Debian's armhf baseline (ARMv7-A, Thumb-2, hard-float VFPv3-D16), which the
# recorder's ARMv7 cores run as it is.

# Multiarch: find_library/find_package look in /usr/lib/arm-linux-gnueabihf, never in the
# build machine's own /usr/lib/x86_64-linux-gnu; programs (tools used by the build) are the
# build machine's.
set(CMAKE_LIBRARY_ARCHITECTURE ${NVR_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${NVR_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
  /usr/lib/x86_64-linux-gnu/cmake /usr/lib/x86_64-linux-gnu/pkgconfig)

# pkg-config (json-c) reads only the armhf .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${NVR_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Every program the build or ctest runs (gtest_discover_tests, add_test with a target) goes
# through qemu-user with the armhf runtime as its library root.
find_program(NVR_QEMU_ARM qemu-arm)
if(NOT NVR_QEMU_ARM)
  set(NVR_QEMU_ARM /usr/bin/qemu-arm)
endif()
set(NVR_ARMHF_LIBRARY_ROOT /usr/${NVR_CROSS_TRIPLE})
# The dynamic loader comes from the cross toolchain's runtime (/usr/arm-linux-gnueabihf/lib); the
# C library must be its own build too. Without LD_LIBRARY_PATH the loader would take the
# multiarch libc6:armhf from /lib/arm-linux-gnueabihf (the ld.so.cache lists it), a different
# Debian build of glibc, and fork() children crash in the mismatched pair. "/lib" is a path of
# the emulated program, which qemu resolves inside the -L root. json-c, SQLite, OpenSSL and zlib
# still come from /usr/lib/arm-linux-gnueabihf.
set(CMAKE_CROSSCOMPILING_EMULATOR ${NVR_QEMU_ARM} -L ${NVR_ARMHF_LIBRARY_ROOT} -E LD_LIBRARY_PATH=/lib)

# 64-bit file offsets and inode numbers on the 32-bit target: disks and partitions pass 2 GiB,
# and under qemu-user on a 64-bit kernel readdir() of 32-bit programs fails with EOVERFLOW
# without them.
# -Wcast-align=strict: a cast to a pointer of stricter alignment (a byte buffer read as uint32_t)
# can fault on the recorder, and qemu-user does not trap misaligned accesses, so the tests would
# never show it; read such data with memcpy or through a packed record instead.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -Wcast-align=strict")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -Wcast-align=strict")
