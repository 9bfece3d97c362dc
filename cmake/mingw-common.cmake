# Cross-compiling for Windows with MinGW-w64 (posix thread model, which
# GoogleTest needs). Included by the toolchain files of the two architectures
# after they set KORVANE_MINGW (the compilers' prefix) and KORVANE_WINE.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KORVANE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVANE_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANE_WINE})
