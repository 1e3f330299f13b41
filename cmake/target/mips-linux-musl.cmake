# Cross build for the boards: 32-bit MIPS big-endian (MIPS32r2) against musl,
# the boards' C library, with Debian's mips-linux-gnu gcc through the driver
# cc beside this file. musl, libevent and GoogleTest for the target come from
# the cache that scripts/build-target-deps fills (PALLAD_TARGET_CACHE, default
# /var/cache/pallad-target). Programs are linked fully static, so they run on
# this machine under qemu-mips as they are; that is how CTest runs the tests.
#
#   cmake -S . -B build-mips -DCMAKE_TOOLCHAIN_FILE=cmake/target/mips-linux-musl.cmake

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

if(NOT PALLAD_TARGET_CACHE)
  if(DEFINED ENV{PALLAD_TARGET_CACHE} AND NOT "$ENV{PALLAD_TARGET_CACHE}" STREQUAL "")
    set(PALLAD_TARGET_CACHE "$ENV{PALLAD_TARGET_CACHE}")
  else()
    set(PALLAD_TARGET_CACHE /var/cache/pallad-target)
  endif()
endif()
set(PALLAD_TARGET_CACHE "${PALLAD_TARGET_CACHE}" CACHE PATH "Folder of the libraries built for the target")
set(PALLAD_TARGET_PREFIX "${PALLAD_TARGET_CACHE}/prefix")
# try_compile projects read this file again; hand them the same cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PALLAD_TARGET_CACHE)

set(CMAKE_C_COMPILER ${PALLAD_TARGET_PREFIX}/bin/mips-linux-musl-gcc)
set(CMAKE_CXX_COMPILER ${PALLAD_TARGET_PREFIX}/bin/mips-linux-musl-g++)
# Code for the boards' 24Kc in MIPS16e, its compressed instruction set: about
# a third less code than MIPS32. Interlinking lets that code call musl's and
# the C++ library's MIPS32 code and back. The programs are linked at fixed
# addresses, so their code is not position-independent either (an eighth
# smaller again, and no $gp set up in every function).
#
# -fno-ipa-ra works around a fault of gcc 12: the prologue of a
# position-independent MIPS16 function sets $gp up through $3 in text that the
# register allocator never sees, so a caller in the same unit that trusts the
# callee's register use keeps a value in $3 across the call and finds it
# clobbered (a string_view written through a wild pointer). Code built with
# -fPIC (libraries that also go into preloaded ones) still has that prologue.
set(PALLAD_TARGET_FLAGS "-march=mips32r2 -mips16 -minterlink-mips16 -fno-pie -fno-ipa-ra")
set(CMAKE_C_FLAGS_INIT "${PALLAD_TARGET_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${PALLAD_TARGET_FLAGS}")
# A shared library's link (where link-time optimisation compiles its code)
# takes -fPIC after those flags' -fno-pie.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fPIC")
# Optimised at link time, across units. Static libraries then hold the
# compiler's intermediate code, which gcc's own archiver indexes.
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON CACHE BOOL "Link-time optimisation")
find_program(PALLAD_TARGET_AR mips-linux-gnu-gcc-ar REQUIRED)
find_program(PALLAD_TARGET_RANLIB mips-linux-gnu-gcc-ranlib REQUIRED)
set(CMAKE_C_COMPILER_AR ${PALLAD_TARGET_AR})
set(CMAKE_CXX_COMPILER_AR ${PALLAD_TARGET_AR})
set(CMAKE_C_COMPILER_RANLIB ${PALLAD_TARGET_RANLIB})
set(CMAKE_CXX_COMPILER_RANLIB ${PALLAD_TARGET_RANLIB})
# The driver links static programs; the test copies of the small tools that
# take a preloaded library are linked dynamically (tests/CMakeLists.txt).
set(PALLAD_TARGET_STATIC ON)

# Find target libraries and packages only in the target tree; programs
# (pkg-config, qemu) come from the host.
set(CMAKE_FIND_ROOT_PATH ${PALLAD_TARGET_PREFIX} ${PALLAD_TARGET_CACHE}/musl)
set(CMAKE_PREFIX_PATH ${PALLAD_TARGET_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the target's .pc files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${PALLAD_TARGET_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# run-on-target, beside this file, runs a program under qemu-mips; static
# programs need nothing else, the dynamic test copies name musl's loader by
# its absolute path. This machine has no binfmt registration to rely on.
find_program(PALLAD_QEMU_MIPS qemu-mips REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run-on-target ${PALLAD_QEMU_MIPS})
