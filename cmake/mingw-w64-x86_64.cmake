# Cross-build for 64-bit Windows with MinGW-w64 (Debian's mingw-w64 packages).
#
#   cmake --preset windows-mingw && cmake --build --preset windows-mingw
#
# Compiler flavour: the "posix" one (x86_64-w64-mingw32-g++-posix). Its libstdc++ is built on
# winpthreads and so has the whole C++ thread library (std::thread, std::mutex, std::jthread...),
# which GCC 12's "win32" flavour lacks. The viewer itself uses no threads, but anything that
# compiles under MSVC should compile here too. Linking everything statically (below) puts
# winpthreads into the .exe, so the flavour costs no extra DLL.
#
# Runtime: the compiler's runtime (libgcc, libstdc++, winpthreads) is linked statically, so an
# .exe needs only DLLs that every Windows has: kernel32, user32, gdi32, d3d9 and the C runtime
# msvcrt.dll, which MinGW-w64 targets by default and which is part of Windows itself.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${MINGW_TRIPLE}-gcc-posix ${MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_TRIPLE}-g++-posix ${MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLE}-windres)
find_program(CMAKE_AR NAMES ${MINGW_TRIPLE}-gcc-ar-posix ${MINGW_TRIPLE}-gcc-ar ${MINGW_TRIPLE}-ar)
find_program(CMAKE_RANLIB NAMES ${MINGW_TRIPLE}-gcc-ranlib-posix ${MINGW_TRIPLE}-gcc-ranlib
                                ${MINGW_TRIPLE}-ranlib)

# Headers and import libraries come from the MinGW-w64 sysroot only (PREFIX/x86_64-w64-mingw32
# beside the compiler's PREFIX/bin, as Debian and most distributions install it); build tools
# from the host.
get_filename_component(MINGW_BIN_DIR "${CMAKE_CXX_COMPILER}" DIRECTORY)
get_filename_component(MINGW_PREFIX "${MINGW_BIN_DIR}" DIRECTORY)
set(CMAKE_FIND_ROOT_PATH "${MINGW_PREFIX}/${MINGW_TRIPLE}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static: libstdc++, libgcc and winpthreads go into the .exe instead of being imported from
# libstdc++-6.dll, libgcc_s_seh-1.dll and libwinpthread-1.dll, which no Windows ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Lets try_run and ctest start the programs under Wine when it is installed.
find_program(MINGW_WINE NAMES wine)
if(MINGW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_WINE})
endif()
