# The JPEG decoder behind the banner. libjpeg-turbo comes through
# find_package(JPEG): Debian's natively, the one scripts/build-libjpeg-mingw
# cross-builds for MinGW, or vcpkg's on Windows.
find_package(JPEG REQUIRED)

add_library(kestro_jpeg_picture STATIC ${PROJECT_SOURCE_DIR}/ui/jpeg_picture.cpp)
target_link_libraries(kestro_jpeg_picture PUBLIC kestro_options JPEG::JPEG)
if(WIN32)
  target_link_libraries(kestro_jpeg_picture PUBLIC gdi32)
endif()
