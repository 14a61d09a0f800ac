# Windows 32-bit (the shipped build) with MinGW-w64.
set(KESTRO_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
