# Cross-build for 64-bit Arm Linux with Debian's cross-compiler and multiarch libraries
# (g++-aarch64-linux-gnu, and libsdl2-dev:arm64 and the rest after dpkg --add-architecture arm64;
# scripts/setup.sh --arm64 installs them).
#
#   cmake --preset linux-arm64 && cmake --build --preset linux-arm64 && ctest --preset linux-arm64
#
# The programs run on an x86-64 host under qemu-user: CTest starts every test program through
# CMAKE_CROSSCOMPILING_EMULATOR, and the tests that start a program themselves take the same
# emulator from the build (see tests/capture).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ARM64_TRIPLE aarch64-linux-gnu)
find_program(CMAKE_C_COMPILER NAMES ${ARM64_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ARM64_TRIPLE}-g++ REQUIRED)

# Multiarch: the arm64 libraries live beside the host's under /usr (lib/aarch64-linux-gnu,
# include/aarch64-linux-gnu) and the cross-compiler's own runtime under /usr/aarch64-linux-gnu.
# With the library architecture set, find_package looks in lib/aarch64-linux-gnu/cmake (SDL2's
# and GTest's package files) and never in the host's lib/x86_64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE ${ARM64_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${ARM64_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config (which some package files call) reads the arm64 .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ARM64_TRIPLE}/pkgconfig:/usr/share/pkgconfig)

# Runs the arm64 programs (try_run, CTest, and the tests that start the capture tool) on this
# host: -L gives qemu the arm64 dynamic loader and C library.
find_program(ARM64_QEMU NAMES qemu-aarch64 qemu-aarch64-static)
if(ARM64_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ARM64_QEMU} -L /usr/${ARM64_TRIPLE})
endif()
