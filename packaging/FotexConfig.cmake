# find_package(Fotex) gives Fotex::Fotex: the DLL of the host's architecture, with the import
# library of its toolchain (Fotex.lib for Microsoft's, libFotex.dll.a for MinGW), and
# Fotex::FotexSim, the virtual camera, for a host's tests that call its functions.
# Fotex_RUNTIME_DLLS lists what a program needs beside it: Fotex.dll. Fotex_TEST_RUNTIME_DLLS
# lists what a test program needs besides: FotexSim.dll, which no release ships.
# The package's version is 1.3.L, L the API level of its DLLs (GetFotexApiLevel, fotex.h):
# find_package(Fotex 1.3.L) takes only a kit whose DLLs have level L or later; Fotex_API_LEVEL.
get_filename_component(_fotex_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_fotex_arch x64)
else()
  set(_fotex_arch x86)
endif()

foreach(_fotex_dll Fotex FotexSim)
  if(MSVC)
    set(_fotex_implib "${_fotex_root}/lib/${_fotex_arch}/${_fotex_dll}.lib")
  else()
    set(_fotex_implib "${_fotex_root}/lib/${_fotex_arch}/lib${_fotex_dll}.dll.a")
  endif()
  if(NOT TARGET Fotex::${_fotex_dll})
    add_library(Fotex::${_fotex_dll} SHARED IMPORTED)
    set_target_properties(Fotex::${_fotex_dll} PROPERTIES
      IMPORTED_LOCATION "${_fotex_root}/bin/${_fotex_arch}/${_fotex_dll}.dll"
      IMPORTED_IMPLIB "${_fotex_implib}"
      INTERFACE_INCLUDE_DIRECTORIES "${_fotex_root}/include")
  endif()
endforeach()

set(Fotex_SIM_DLL "${_fotex_root}/bin/${_fotex_arch}/FotexSim.dll")
set(Fotex_RUNTIME_DLLS "${_fotex_root}/bin/${_fotex_arch}/Fotex.dll")
set(Fotex_TEST_RUNTIME_DLLS "${Fotex_SIM_DLL}")
set(Fotex_API_LEVEL ${Fotex_VERSION_PATCH})
set(Fotex_ARCH ${_fotex_arch})
unset(_fotex_root)
unset(_fotex_arch)
unset(_fotex_dll)
unset(_fotex_implib)
