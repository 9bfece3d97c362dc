# 32-bit Windows: the launcher as it ships.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KORVANE_MINGW i686-w64-mingw32)
set(KORVANE_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
