# Tests of the JPEG decoder; included at the end of tests/CMakeLists.txt, where
# GoogleTest and (in cross builds) the Wine emulator are set up.
add_executable(kestro_jpeg_tests ${PROJECT_SOURCE_DIR}/tests/jpeg_picture_test.cpp)
target_compile_definitions(kestro_jpeg_tests PRIVATE
  KESTRO_RESOURCES_DIR="${PROJECT_SOURCE_DIR}/resources"
  KESTRO_TEST_LOGO_RESOURCE=101)
if(WIN32)
  # The logo as an RCDATA resource of the test program itself.
  enable_language(RC)
  set(_kestro_jpeg_rc ${CMAKE_CURRENT_BINARY_DIR}/jpeg_picture_test.rc)
  file(CONFIGURE OUTPUT ${_kestro_jpeg_rc}
       CONTENT "KESTRO_TEST_LOGO_RESOURCE RCDATA \"${PROJECT_SOURCE_DIR}/resources/logo.jpg\"\n")
  set_source_files_properties(${_kestro_jpeg_rc} PROPERTIES
    OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/resources/logo.jpg)
  target_sources(kestro_jpeg_tests PRIVATE ${_kestro_jpeg_rc})
endif()
target_link_libraries(kestro_jpeg_tests PRIVATE kestro_jpeg_picture ${KESTRO_GTEST_MAIN})
gtest_discover_tests(kestro_jpeg_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 180)
