# Windows 64-bit with MinGW-w64.
set(KESTRO_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
