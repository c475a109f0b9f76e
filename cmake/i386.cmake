# Toolchain for a 32-bit x86 build on an x86-64 Debian host with the i386
# multiarch packages (g++-multilib, libpng-dev:i386, libjpeg62-turbo-dev:i386,
# zlib1g-dev:i386, libgtest-dev:i386, libgmock-dev:i386).
#
#   cmake -S . -B build/i386 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake -DZ3AZ_GUI=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# SSE2 arithmetic rather than the x87 unit: floats are then rounded to
# single precision at every step, as on x86-64, instead of being carried in
# 80-bit registers, so quantisation and the file bytes match the 64-bit build.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Libraries, package configurations and pkg-config files come from the i386
# multiarch directories only, never from the host's x86-64 ones.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
                      /usr/lib/x86_64-linux-gnu/cmake /usr/lib/x86_64-linux-gnu/pkgconfig)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
