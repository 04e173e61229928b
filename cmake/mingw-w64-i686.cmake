# Cross build for Windows x86 with Debian's mingw-w64; tests run under Wine.
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(LOADFILE_WINE_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
