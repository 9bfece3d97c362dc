# 32-bit Windows: the launcher as it ships. Its test programs run in a win64
# prefix too, where the 64-bit loader hands them to the 32-bit one.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KORVANE_MINGW i686-w64-mingw32)
set(KORVANE_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
