# Cross build for ARM Linux, hard-float, glibc (arm-linux-gnueabihf): the
# cross compilers of crossbuild-essential-armhf against an armhf root of
# Debian's own packages (Qt 5, OpenSSL, zlib, GoogleTest and what they need),
# which scripts/armhf-sysroot.sh makes in build-armhf-sysroot/:
#
#   scripts/armhf-sysroot.sh
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
#
# -DOSTRA_ARMHF_SYSROOT=DIR names another root.
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

if(NOT OSTRA_ARMHF_SYSROOT)
    get_filename_component(OSTRA_ARMHF_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build-armhf-sysroot
                           ABSOLUTE)
endif()
if(NOT EXISTS ${OSTRA_ARMHF_SYSROOT}/.packages)
    message(FATAL_ERROR "No armhf root in ${OSTRA_ARMHF_SYSROOT}: run scripts/armhf-sysroot.sh")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OSTRA_ARMHF_SYSROOT)
set(CMAKE_SYSROOT ${OSTRA_ARMHF_SYSROOT})

# Libraries, headers and packages from the armhf root only; programs (Python,
# the Qt tools, openssl) from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR}
    ${OSTRA_ARMHF_SYSROOT}/usr/lib/${OSTRA_ARMHF_TRIPLET}/pkgconfig:${OSTRA_ARMHF_SYSROOT}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${OSTRA_ARMHF_SYSROOT})

# The Qt tools (moc, rcc, uic) are programs of the build machine: the armhf
# root's /usr/lib/qt5/bin, where its Qt 5 package names them, links to the
# build machine's own (qtbase5-dev-tools).

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

# Run armhf programs through qemu-arm, with the armhf root as the prefix of
# the files they open: the dynamic loader, the C library and the Qt libraries
# and plugins all come from that root. The cross toolchain's own copy of the C
# library (/usr/arm-linux-gnueabihf/lib, libc6-armhf-cross) is for linking
# only: its loader with the root's libc.so.6 crashes in pthread_create.
find_program(OSTRA_QEMU_ARM qemu-arm)
if(OSTRA_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTRA_QEMU_ARM} -L ${OSTRA_ARMHF_SYSROOT})
    set(OSTRA_ARMHF_EMULATOR "${OSTRA_QEMU_ARM} -L ${OSTRA_ARMHF_SYSROOT}")
    # The static programs have no ELF interpreter and load nothing, so they
    # run under qemu-arm alone: no -L, nothing of this machine's ARM
    # libraries, as on the device.
    set(OSTRA_HEXMEND_EMULATOR ${OSTRA_QEMU_ARM})
endif()
