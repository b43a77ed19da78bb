# Cross-compiles tavrix.dll and the test programs for Windows x64 with MinGW-w64
# (Debian: g++-mingw-w64-x86-64-posix). The C and C++ runtimes of GCC are linked in
# statically, so the DLL imports nothing but KERNEL32 and the system msvcrt.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# When wine is installed, the test programs run under it (through
# tools/run-windows-program.sh); otherwise they are only built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

# The POSIX thread model: GCC 12's win32 model has no std::mutex, which the
# test framework needs. The library itself uses no threads, and winpthread is
# linked in statically like the rest of the runtime.
set(TAVRIX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVRIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRIX_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TAVRIX_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TAVRIX_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${TAVRIX_MINGW_PREFIX}-objdump CACHE FILEPATH "")

# libgcc, libstdc++ and winpthread go into every binary: a host machine has
# none of MinGW's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_FIND_ROOT_PATH /usr/${TAVRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs are started through wine (quiet, in a private prefix).
find_program(TAVRIX_WINE NAMES wine wine64)
if(TAVRIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/run-windows-program.sh
      ${CMAKE_BINARY_DIR}/wineprefix)
endif()
