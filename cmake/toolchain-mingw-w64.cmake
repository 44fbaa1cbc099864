# Cross-builds for 64-bit Windows with the distribution's mingw-w64 compilers:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake
# The programs are self-contained: the C and C++ runtimes and zlib (from the
# mingw-w64 zlib package) are linked statically, so an .exe imports system
# DLLs only. Tests run the programs through wine when it is installed.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTRA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OSTRA_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${OSTRA_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${OSTRA_MINGW_TRIPLET}-windres)

# Libraries and headers come from the cross sysroot only; programs (python3,
# wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${OSTRA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# libz.a rather than the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

find_program(OSTRA_WINE NAMES wine wine64)
if(OSTRA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTRA_WINE})
endif()
