# Cross build for Windows (i686) with MinGW-w64 GCC. The -posix compilers are the ones with
# std::thread and std::mutex (the win32-threads variants of GCC 12 have neither).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)

set(QV_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QV_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${QV_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${QV_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "ranlib")

# Headers and libraries come from the MinGW-w64 sysroot only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
