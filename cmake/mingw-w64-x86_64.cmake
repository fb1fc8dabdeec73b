# Cross build for 64-bit Windows with Debian's MinGW-w64 (the -posix
# compilers: std::thread and std::mutex need their threading model).
#
# KELVANOR_WIN64_PREFIX names the folder the third-party libraries were
# installed into (scripts/build-windows.sh builds them); it is searched
# instead of the host system, whose headers and libraries are for Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_AR ${_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT KELVANOR_WIN64_PREFIX AND DEFINED ENV{KELVANOR_WIN64_PREFIX})
  set(KELVANOR_WIN64_PREFIX "$ENV{KELVANOR_WIN64_PREFIX}")
endif()
# try_compile projects see the toolchain file again, but not the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELVANOR_WIN64_PREFIX)

set(CMAKE_FIND_ROOT_PATH ${KELVANOR_WIN64_PREFIX} /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static archives only: the package ships no DLL besides the programs. (An
# import library ends in .a too: FindZLIB would take libz.dll.a without the
# second line, and the programs would need zlib1.dll.)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(ZLIB_USE_STATIC_LIBS ON)

# Everything linked in: a program runs from any folder without DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# wx-config is a program, so it would be looked for on the host; the cross
# one lives in the prefix.
if(KELVANOR_WIN64_PREFIX AND EXISTS "${KELVANOR_WIN64_PREFIX}/bin/wx-config")
  set(wxWidgets_CONFIG_EXECUTABLE "${KELVANOR_WIN64_PREFIX}/bin/wx-config" CACHE FILEPATH "")
endif()

# Test programs (and gtest's test discovery) run under Wine.
find_program(KELVANOR_WINE NAMES wine)
if(KELVANOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVANOR_WINE})
endif()
