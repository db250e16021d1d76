# Builds a 32-bit Windows host on Linux with the mingw-w64 cross compilers, against this kit:
#   cmake -S myhost -B build -DCMAKE_TOOLCHAIN_FILE=<kit>/toolchains/mingw-i686.cmake -DCMAKE_PREFIX_PATH=<kit>
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
