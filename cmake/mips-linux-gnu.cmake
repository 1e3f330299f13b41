# Cross build for the boards: 32-bit MIPS big-endian (MIPS32r2), glibc, with
# Debian's mips-linux-gnu toolchain. libevent and GoogleTest for the target come
# from the cache that scripts/build-target-deps fills (PALLAD_TARGET_CACHE,
# default /var/cache/pallad-target). Binaries built here run on this machine
# through qemu-mips, which is how CTest runs the unit tests.
#
#   cmake -S . -B build-mips -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-gnu.cmake

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(PALLAD_TARGET_TRIPLE mips-linux-gnu)
set(PALLAD_TARGET_SYSROOT /usr/${PALLAD_TARGET_TRIPLE})

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

set(CMAKE_C_COMPILER ${PALLAD_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PALLAD_TARGET_TRIPLE}-g++)
set(CMAKE_C_FLAGS_INIT "-march=mips32r2")
set(CMAKE_CXX_FLAGS_INIT "-march=mips32r2")

# Find target libraries and packages only in the target trees; programs
# (pkg-config, qemu) come from the host.
set(CMAKE_FIND_ROOT_PATH ${PALLAD_TARGET_PREFIX} ${PALLAD_TARGET_SYSROOT})
set(CMAKE_PREFIX_PATH ${PALLAD_TARGET_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the target's .pc files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${PALLAD_TARGET_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The emulator (run-on-target beside this file) runs a program under qemu-mips
# with the target's loader and C library from the cross tree; the cached
# libraries are found through the build tree's run path. Absolute paths are
# used as given: this machine has no binfmt registration to rely on.
find_program(PALLAD_QEMU_MIPS qemu-mips REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/run-on-target ${PALLAD_QEMU_MIPS} ${PALLAD_TARGET_SYSROOT})
