# Builds a 64-bit Windows host on Linux with the mingw-w64 cross compilers, against this kit:
#   cmake -S myhost -B build -DCMAKE_TOOLCHAIN_FILE=<kit>/toolchains/mingw-x86_64.cmake -DCMAKE_PREFIX_PATH=<kit>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages are searched outside the root path too, so CMAKE_PREFIX_PATH can name the kit. Under a
# toolchain that sets CMAKE_FIND_ROOT_PATH_MODE_PACKAGE to ONLY, pass -DFotex_DIR=<kit>/lib/cmake/Fotex.
