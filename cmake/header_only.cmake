# Header-only libraries from Debian (nlohmann-json3-dev, libcli11-dev).
# Natively their CMake packages; for MinGW the same headers, reached
# through a folder of links that holds only them, since putting Debian's
# /usr/include on a cross compiler's path would bring glibc's headers along.
if(CMAKE_CROSSCOMPILING)
  set(_kestro_headers ${CMAKE_BINARY_DIR}/header-only)
  foreach(_dir nlohmann CLI)
    find_path(_kestro_${_dir}_root ${_dir} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT _kestro_${_dir}_root)
      message(FATAL_ERROR "/usr/include/${_dir} is missing: run scripts/install-deps")
    endif()
    file(MAKE_DIRECTORY ${_kestro_headers})
    if(NOT EXISTS ${_kestro_headers}/${_dir})
      file(CREATE_LINK ${_kestro_${_dir}_root}/${_dir} ${_kestro_headers}/${_dir} SYMBOLIC)
    endif()
  endforeach()
  add_library(kestro_header_only INTERFACE)
  target_include_directories(kestro_header_only SYSTEM INTERFACE ${_kestro_headers})
  # std::filesystem would bring imports that Windows XP lacks; the commands
  # check their own files.
  target_compile_definitions(kestro_header_only INTERFACE CLI11_HAS_FILESYSTEM=0)
else()
  find_package(nlohmann_json 3.11 REQUIRED)
  find_package(CLI11 2.1 REQUIRED)
  add_library(kestro_header_only INTERFACE)
  target_link_libraries(kestro_header_only INTERFACE nlohmann_json::nlohmann_json CLI11::CLI11)
endif()
