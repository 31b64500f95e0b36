# Cross-building pixremap with Debian's cross compilers against a sysroot
# made by sysroot.sh:
#
#   cmake -S . -B DIR -DCMAKE_TOOLCHAIN_FILE=tests/cross/toolchain.cmake \
#         -DPIXREMAP_CROSS_ARCH=arm64 -DPIXREMAP_CROSS_SYSROOT=/path/to/sysroot
#
# and, for i386 on an x86-64 kernel that can't run it (tests/cross/check.sh
# finds out), -DPIXREMAP_CROSS_EMULATE=ON: its programs then run under
# qemu-user, as every other architecture's do.
#
# The compiler keeps its own C library (Debian's libc6-dev-ARCH-cross); only
# pixremap's dependencies come from the sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     PIXREMAP_CROSS_ARCH PIXREMAP_CROSS_SYSROOT PIXREMAP_CROSS_EMULATE)
foreach(variable PIXREMAP_CROSS_ARCH PIXREMAP_CROSS_SYSROOT)
  if(NOT ${variable})
    message(FATAL_ERROR "toolchain.cmake needs -D${variable}=...")
  endif()
endforeach()

execute_process(COMMAND dpkg-architecture -a ${PIXREMAP_CROSS_ARCH} -qDEB_HOST_GNU_TYPE
                OUTPUT_VARIABLE gnu_type OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND dpkg-architecture -a ${PIXREMAP_CROSS_ARCH} -qDEB_HOST_MULTIARCH
                OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND dpkg-architecture -a ${PIXREMAP_CROSS_ARCH} -qDEB_HOST_GNU_CPU
                OUTPUT_VARIABLE cpu OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cpu})
set(CMAKE_C_COMPILER ${gnu_type}-gcc-12)
set(CMAKE_CXX_COMPILER ${gnu_type}-g++-12)
set(CMAKE_LIBRARY_ARCHITECTURE ${multiarch})

# Libraries, headers and CMake packages only from the sysroot; programs
# (pkg-config) from the machine.
set(CMAKE_FIND_ROOT_PATH ${PIXREMAP_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR}
    "${PIXREMAP_CROSS_SYSROOT}/usr/lib/${multiarch}/pkgconfig:${PIXREMAP_CROSS_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${PIXREMAP_CROSS_SYSROOT})
# The sysroot's libraries name others (libpng needs libz) that the linker
# must find there too.
set(libs "${PIXREMAP_CROSS_SYSROOT}/lib/${multiarch}:${PIXREMAP_CROSS_SYSROOT}/usr/lib/${multiarch}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${libs}")

# How the programs built run on this machine, for listing and running the
# tests. An x86-64 kernel with 32-bit support runs i386 programs itself:
# they name the sysroot's loader and libraries, so that they run, and start
# each other, like any program here (an RPATH, not a RUNPATH: it holds for
# the libraries' own libraries too). The others, and i386 with
# PIXREMAP_CROSS_EMULATE, run under qemu-user, which takes the loader and
# libraries from the sysroot (and can't start another program of that
# architecture, nor confine one: that is for the boot test).
if(CMAKE_HOST_SYSTEM_PROCESSOR STREQUAL "x86_64" AND multiarch STREQUAL "i386-linux-gnu"
   AND NOT PIXREMAP_CROSS_EMULATE)
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
         " -Wl,--dynamic-linker=${PIXREMAP_CROSS_SYSROOT}/lib/ld-linux.so.2 -Wl,--disable-new-dtags,-rpath,${libs}")
else()
  set(qemu_cpu ${cpu})
  if(cpu MATCHES "^i.86$")
    set(qemu_cpu i386)
  elseif(cpu STREQUAL "powerpc64le")
    set(qemu_cpu ppc64le)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_cpu} -L ${PIXREMAP_CROSS_SYSROOT})
endif()
