# The body of the mingw-w64 toolchains: Windows programs cross-built with
# Debian's mingw-w64 (the posix thread model, which GoogleTest needs; the
# products link everything statically), their tests run under Wine.
# Included by mingw-w64-x86_64.cmake and mingw-w64-i686.cmake, which set
# MINGW_TRIPLE, CMAKE_SYSTEM_PROCESSOR and LOADFILE_WINE_ARCH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJDUMP ${MINGW_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine.sh run ${LOADFILE_WINE_ARCH})
