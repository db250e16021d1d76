# The part of the mingw-w64 toolchain files that both machines share; MINGW_TRIPLE names the
# compilers (x86_64-w64-mingw32 or i686-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages are searched outside the root path too, so CMAKE_PREFIX_PATH can name the kit. Under a
# toolchain that sets CMAKE_FIND_ROOT_PATH_MODE_PACKAGE to ONLY, pass -DFotex_DIR=<kit>/lib/cmake/Fotex.
