# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, so std::thread
# and std::mutex are there), on Linux:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(tzz_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${tzz_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tzz_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${tzz_mingw}-windres)
# The binutils carry the plain prefix; CMake would not guess them from the "-posix" names.
set(CMAKE_AR ${tzz_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${tzz_mingw}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_STRIP ${tzz_mingw}-strip CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${tzz_mingw}-objdump CACHE FILEPATH "")

# Libraries and headers come from the target's own tree only; the build machine's programs stay
# usable (cmake, the shell, Wine).
set(CMAKE_FIND_ROOT_PATH /usr/${tzz_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
