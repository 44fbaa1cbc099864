# Cross build for ARM Linux, hard-float, glibc (arm-linux-gnueabihf), against
# the distribution's multiarch packages: the cross compilers of
# crossbuild-essential-armhf and the armhf Qt 5, OpenSSL and zlib installed
# beside the build machine's own (qtbase5-dev:armhf, libssl-dev:armhf,
# zlib1g-dev:armhf).
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
#
# Built programs run here through user-mode emulation: CTest and add_test()
# prefix every target they run with CMAKE_CROSSCOMPILING_EMULATOR, and
# OSTRA_ARMHF_EMULATOR holds the same command as one text for tests that start
# the programs themselves.
#
# The launcher links the device's shared Qt and C library. hexmend and
# hexmend-diff are each one file to copy onto the device and run whatever
# its glibc: they are linked statically, the C and C++ libraries and zlib
# included (OSTRA_HEXMEND_STATIC, see hexmend/CMakeLists.txt).

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(OSTRA_ARMHF_TRIPLET arm-linux-gnueabihf)
set(CMAKE_LIBRARY_ARCHITECTURE ${OSTRA_ARMHF_TRIPLET})

set(CMAKE_C_COMPILER ${OSTRA_ARMHF_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${OSTRA_ARMHF_TRIPLET}-g++)

# Multiarch keeps the armhf libraries and their CMake packages in
# /usr/lib/arm-linux-gnueabihf of the build machine itself, so there is no
# separate sysroot. Point the searches there and keep the build machine's own
# libraries (x86_64 and others) out of them.
set(CMAKE_PREFIX_PATH /usr/lib/${OSTRA_ARMHF_TRIPLET}/cmake)
set(Qt5_DIR /usr/lib/${OSTRA_ARMHF_TRIPLET}/cmake/Qt5 CACHE PATH "armhf Qt 5 package")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
execute_process(COMMAND dpkg-architecture -qDEB_HOST_MULTIARCH
                OUTPUT_VARIABLE _ostra_build_multiarch OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
if(_ostra_build_multiarch AND NOT _ostra_build_multiarch STREQUAL OSTRA_ARMHF_TRIPLET)
    list(APPEND CMAKE_IGNORE_PATH /usr/lib/${_ostra_build_multiarch}
         /lib/${_ostra_build_multiarch} /usr/lib/${_ostra_build_multiarch}/cmake)
endif()

# The Qt tools (moc, rcc, uic) are programs of the build machine: the armhf
# Qt 5 package names them under /usr/lib/qt5/bin, which multiarch fills with
# the build machine's binaries (qtbase5-dev-tools), so nothing to do here.

# Backtraces on ARM are made by unwinding, not by frame pointers: without
# unwind tables backtrace() stops after the first frame, and without the
# dynamic symbol table backtrace_symbols() has no names for the program's own
# functions.
set(CMAKE_C_FLAGS_INIT "-funwind-tables")
set(CMAKE_CXX_FLAGS_INIT "-funwind-tables")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-rdynamic")

# hexmend and hexmend-diff as single static files (see the top of this file);
# -DOSTRA_HEXMEND_STATIC=OFF links them dynamically.
set(OSTRA_HEXMEND_STATIC ON CACHE BOOL
    "Link hexmend and hexmend-diff statically, zlib and the C and C++ libraries included")

# Run armhf programs through qemu-arm. The dynamic loader and the C library
# must come from the same glibc build: the armhf Qt and OpenSSL packages pull
# in libc6:armhf, whose loader is /lib/ld-linux-armhf.so.3 of this machine and
# whose libraries the loader finds through the multiarch ld.so.cache. So the
# ELF interpreter prefix is the root itself. The cross toolchain's own copy
# (/usr/arm-linux-gnueabihf/lib, libc6-armhf-cross) is for linking only:
# its loader with libc6:armhf's libc.so.6 crashes in pthread_create.
set(OSTRA_ARMHF_LIBC_PREFIX /)
find_program(OSTRA_QEMU_ARM qemu-arm)
if(OSTRA_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTRA_QEMU_ARM} -L ${OSTRA_ARMHF_LIBC_PREFIX})
    set(OSTRA_ARMHF_EMULATOR "${OSTRA_QEMU_ARM} -L ${OSTRA_ARMHF_LIBC_PREFIX}")
    # The static programs have no ELF interpreter and load nothing, so they
    # run under qemu-arm alone: no -L, nothing of this machine's ARM
    # libraries, as on the device.
    set(OSTRA_HEXMEND_EMULATOR ${OSTRA_QEMU_ARM})
endif()
