# What both MinGW-w64 toolchains share; each sets KESTRO_MINGW_ARCH first.
# The posix thread model: GoogleTest needs std::mutex, which the win32 model
# lacks. Linking is static, so no threading DLL ships.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KESTRO_MINGW_ARCH})
set(CMAKE_C_COMPILER ${KESTRO_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRO_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRO_MINGW_ARCH}-w64-mingw32-windres)
# Libraries cross-built for this target (scripts/build-libjpeg-mingw puts
# libjpeg-turbo there); KESTRO_DEPS_PREFIX can point elsewhere.
get_filename_component(_kestro_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(KESTRO_DEPS_PREFIX "${_kestro_root}/build/deps/mingw-${KESTRO_MINGW_ARCH}" CACHE PATH
    "Prefix of the libraries cross-built for mingw-${KESTRO_MINGW_ARCH}")
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRO_MINGW_ARCH}-w64-mingw32 "${KESTRO_DEPS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
