# Cross build for Windows x64 with Debian's mingw-w64; tests run under Wine.
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(LOADFILE_WINE_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
