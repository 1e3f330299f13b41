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
set(CMAKE_C_FLAGS_INIT "-march=mips32r2")
set(CMAKE_CXX_FLAGS_INIT "-march=mips32r2")
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
