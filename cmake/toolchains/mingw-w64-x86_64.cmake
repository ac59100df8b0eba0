# CMake toolchain file: cross-compile for 64-bit Windows with mingw-w64 on Debian.
#
# Usage (from a build directory):
#   cmake -S . -B build-win \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
#         -DQUORVANE_POCO_PREFIX="$(scripts/windows/build-poco.sh | tail -n1)" \
#         -DCMAKE_BUILD_TYPE=Release
#
# QUORVANE_POCO_PREFIX (cache variable, or environment variable of the same
# name) is the install prefix of the static POCO built by
# scripts/windows/build-poco.sh. If neither is set it defaults to
# ${QUORVANE_CACHE:-/var/cache/quorvane}/poco-mingw, a symlink that the build
# script points at its most recent complete install.
#
# Only the mingw sysroot and the POCO prefix are searched for libraries,
# headers and CMake packages, so the host's /usr POCO is never picked up.
# Executables are linked with -static (libgcc, libstdc++ and winpthread are
# linked in), so the .exe needs only DLLs that ship with Windows.
#
# Needs the Debian package g++-mingw-w64-x86-64-posix (posix thread model;
# the win32 thread model of GCC 12 has no std::thread/std::mutex).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_quorvane_mingw_triplet x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   /usr/bin/${_quorvane_mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${_quorvane_mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${_quorvane_mingw_triplet}-windres)
set(CMAKE_MC_COMPILER  /usr/bin/${_quorvane_mingw_triplet}-windmc)
set(CMAKE_AR           /usr/bin/${_quorvane_mingw_triplet}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB       /usr/bin/${_quorvane_mingw_triplet}-ranlib CACHE FILEPATH "Ranlib")

foreach(_quorvane_tool IN ITEMS "${CMAKE_C_COMPILER}" "${CMAKE_CXX_COMPILER}" "${CMAKE_RC_COMPILER}")
  if(NOT EXISTS "${_quorvane_tool}")
    message(FATAL_ERROR
      "${_quorvane_tool} not found. Install the mingw-w64 posix toolchain:\n"
      "  apt-get install g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64")
  endif()
endforeach()

# Where the static POCO lives. The environment variable is set as well so
# that try_compile() sub-projects, which re-read this file, see the same value.
if(NOT DEFINED QUORVANE_POCO_PREFIX OR QUORVANE_POCO_PREFIX STREQUAL "")
  if(DEFINED ENV{QUORVANE_POCO_PREFIX} AND NOT "$ENV{QUORVANE_POCO_PREFIX}" STREQUAL "")
    set(_quorvane_poco_default "$ENV{QUORVANE_POCO_PREFIX}")
  elseif(DEFINED ENV{QUORVANE_CACHE} AND NOT "$ENV{QUORVANE_CACHE}" STREQUAL "")
    set(_quorvane_poco_default "$ENV{QUORVANE_CACHE}/poco-mingw")
  else()
    set(_quorvane_poco_default "/var/cache/quorvane/poco-mingw")
  endif()
  set(QUORVANE_POCO_PREFIX "${_quorvane_poco_default}" CACHE PATH
      "Install prefix of the mingw-w64 static POCO (see scripts/windows/build-poco.sh)")
endif()
set(ENV{QUORVANE_POCO_PREFIX} "${QUORVANE_POCO_PREFIX}")

set(CMAKE_FIND_ROOT_PATH /usr/${_quorvane_mingw_triplet} "${QUORVANE_POCO_PREFIX}")
list(APPEND CMAKE_PREFIX_PATH "${QUORVANE_POCO_PREFIX}")

# Programs (code generators etc.) come from the host; everything that gets
# linked into the target comes only from the find roots above.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static runtime: no libgcc_s_seh-1.dll, libstdc++-6.dll or
# libwinpthread-1.dll next to the .exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Let add_test() run the cross-compiled .exe through wine when it is there.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR AND EXISTS /usr/bin/wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)
endif()
