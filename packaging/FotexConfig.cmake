# find_package(Fotex) gives Fotex::Fotex: the DLL of the host's architecture, with the import
# library of its toolchain (Fotex.lib for Microsoft's, libFotex.dll.a for MinGW).
# Fotex_RUNTIME_DLLS lists what a program needs beside it: Fotex.dll and the virtual camera.
get_filename_component(_fotex_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_fotex_arch x64)
else()
  set(_fotex_arch x86)
endif()
if(MSVC)
  set(_fotex_implib "${_fotex_root}/lib/${_fotex_arch}/Fotex.lib")
else()
  set(_fotex_implib "${_fotex_root}/lib/${_fotex_arch}/libFotex.dll.a")
endif()

if(NOT TARGET Fotex::Fotex)
  add_library(Fotex::Fotex SHARED IMPORTED)
  set_target_properties(Fotex::Fotex PROPERTIES
    IMPORTED_LOCATION "${_fotex_root}/bin/${_fotex_arch}/Fotex.dll"
    IMPORTED_IMPLIB "${_fotex_implib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_fotex_root}/include")
endif()

set(Fotex_SIM_DLL "${_fotex_root}/bin/${_fotex_arch}/FotexSim.dll")
set(Fotex_RUNTIME_DLLS "${_fotex_root}/bin/${_fotex_arch}/Fotex.dll" "${Fotex_SIM_DLL}")
set(Fotex_ARCH ${_fotex_arch})
unset(_fotex_root)
unset(_fotex_arch)
unset(_fotex_implib)
