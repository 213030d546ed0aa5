# Cross-builds the Windows console program with Debian's MinGW-w64. The
# release target is 32-bit (i686); MAP_ROTATION_MINGW_ARCH=x86_64 builds the
# same program for 64-bit Windows, for machines that can run only 64-bit Wine.
if(NOT MAP_ROTATION_MINGW_ARCH)
  set(MAP_ROTATION_MINGW_ARCH i686)
endif()
set(triple ${MAP_ROTATION_MINGW_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MAP_ROTATION_MINGW_ARCH})
# The win32 thread model: the posix one links winpthreads, which imports
# GetTickCount64 and so keeps the program from starting on Windows XP.
set(CMAKE_CXX_COMPILER ${triple}-g++-win32)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
