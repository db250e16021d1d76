# Builds a 64-bit Windows host on Linux with the mingw-w64 cross compilers, against this kit:
#   cmake -S myhost -B build -DCMAKE_TOOLCHAIN_FILE=<kit>/toolchains/mingw-x86_64.cmake -DCMAKE_PREFIX_PATH=<kit>
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
