# Cross-compiling for Windows with MinGW-w64. Included by the toolchain files
# of the two architectures after they set KORVANE_MINGW (the compilers'
# prefix) and KORVANE_WINE.
set(CMAKE_SYSTEM_NAME Windows)

# The compilers' thread model: posix, which GoogleTest needs, unless
# -DKORVANE_THREADS=win32. The release launcher uses no threads and is built
# with win32, which links no threads library into it.
if(NOT KORVANE_THREADS)
  set(KORVANE_THREADS posix)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORVANE_THREADS)

set(CMAKE_C_COMPILER ${KORVANE_MINGW}-gcc-${KORVANE_THREADS})
set(CMAKE_CXX_COMPILER ${KORVANE_MINGW}-g++-${KORVANE_THREADS})
set(CMAKE_RC_COMPILER ${KORVANE_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANE_WINE})
