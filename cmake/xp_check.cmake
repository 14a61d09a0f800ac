# Windows XP readiness of the shipped program, checked on the built
# kestro.exe and kestroctl.exe of each Windows build (tests/xp/check_pe.py): the OS and
# subsystem versions in its header, every import against
# tests/xp/xp-imports.txt, the manifest, the icon and the version resource.
# Included at the end of tests/CMakeLists.txt.
if(NOT WIN32)
  return()
endif()

# Debian's python3 (scripts/install-deps installs it), else any on the path.
find_program(KESTRO_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT KESTRO_PYTHON3)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(KESTRO_PYTHON3 ${Python3_EXECUTABLE})
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KESTRO_XP_ARCH x86_64)
else()
  set(KESTRO_XP_ARCH i686)
endif()
set(KESTRO_XP_DIR ${PROJECT_SOURCE_DIR}/tests/xp)

add_test(NAME xp.kestro-exe
         COMMAND ${KESTRO_PYTHON3} ${KESTRO_XP_DIR}/check_pe.py
                 --arch ${KESTRO_XP_ARCH} --version ${PROJECT_VERSION}
                 --imports ${KESTRO_XP_DIR}/xp-imports.txt --objdump ${CMAKE_OBJDUMP}
                 $<TARGET_FILE:kestro>)

# The console tool, by the same checks.
add_test(NAME xp.kestroctl-exe
         COMMAND ${KESTRO_PYTHON3} ${KESTRO_XP_DIR}/check_pe.py --console
                 --arch ${KESTRO_XP_ARCH} --version ${PROJECT_VERSION}
                 --imports ${KESTRO_XP_DIR}/xp-imports.txt --objdump ${CMAKE_OBJDUMP}
                 $<TARGET_FILE:kestroctl>)

# The checker itself, on copies of kestro.exe with one fault each.
add_test(NAME xp.checker-finds-faults
         COMMAND ${KESTRO_PYTHON3} ${KESTRO_XP_DIR}/check_pe_test.py
                 --arch ${KESTRO_XP_ARCH} --version ${PROJECT_VERSION}
                 --imports ${KESTRO_XP_DIR}/xp-imports.txt $<TARGET_FILE:kestro>)

# The stand-in for GetTickCount64 (platform/xp_tick_count.cpp), under Wine.
add_executable(kestro_xp_tests ${KESTRO_XP_DIR}/tick_count_test.cpp ${PROJECT_SOURCE_DIR}/platform/xp_tick_count.cpp)
target_link_libraries(kestro_xp_tests PRIVATE kestro_options ${KESTRO_GTEST_MAIN})
gtest_discover_tests(kestro_xp_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 180)
