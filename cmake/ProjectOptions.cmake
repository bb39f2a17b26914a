# Warnings, sanitizers and the kernel-style rules shared by every target.

add_compile_options(-Wall -Wextra -Werror)
# GCC 12 at -O3 reports impossible overlaps inside std::string's own copies (-Wrestrict); it
# stays a warning there, so the release build still shows it without failing on it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-error=restrict)
endif()

set(BAYERCAM_SANITIZE "" CACHE STRING "Sanitizers: address, thread or empty")
if(BAYERCAM_SANITIZE STREQUAL "address")
  # The vptr check needs type information, which driver code (built without RTTI) has none of.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize=vptr
                      -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(BAYERCAM_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT BAYERCAM_SANITIZE STREQUAL "")
  message(FATAL_ERROR "BAYERCAM_SANITIZE must be address, thread or empty")
endif()

# Fuzzing (clang only): every library carries libFuzzer's coverage and comparison hooks; the fuzz
# executables under tests/fuzz link libFuzzer itself.
option(BAYERCAM_FUZZ "Build the libFuzzer targets instead of their corpus regression programs" OFF)
if(BAYERCAM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "BAYERCAM_FUZZ needs clang (the fuzz preset)")
  endif()
  # GCC-only warning names in the sources' diagnostic pragmas (a workaround for a GCC bug) are
  # unknown to clang, which is no fault of the code.
  add_compile_options(-fsanitize=fuzzer-no-link -Wno-unknown-warning-option)
endif()

# Each kind of code is compiled at the level its job needs.
# - The hot paths (the pixel kernels, the frame conversion, the delivery copy) are built at full
#   optimisation in every build but the sanitizer and fuzz ones, so the tool a user builds with
#   ./run converts as fast as the release build. Those keep the level their checks are tuned for.
# - Code that does no work per pixel is compiled for its checks rather than its speed. The tests
#   build at -Og, quick to compile and still giving the warnings that need flow analysis. Under
#   the sanitizers the tests, the application side and the soak's library build at -O0: the
#   checks find as much there, and it compiles in half the time (the tool's commands: 106 s at
#   -O1 under the address sanitizer, 38 s at -O0). The driver, the simulated camera and the
#   platform stand-ins render, move and convert the pixels and keep the build's level, so the
#   suites take no longer.
# - The fuzz build keeps its level throughout: its harnesses' speed is its executions per second.
set(BAYERCAM_HOT_PATH_OPTIONS "")
set(BAYERCAM_TEST_CODE_OPTIONS "")
set(BAYERCAM_APP_CODE_OPTIONS "")
if(NOT BAYERCAM_SANITIZE AND NOT BAYERCAM_FUZZ)
  set(BAYERCAM_HOT_PATH_OPTIONS -O3)
  set(BAYERCAM_TEST_CODE_OPTIONS -Og)
elseif(NOT BAYERCAM_FUZZ)
  set(BAYERCAM_TEST_CODE_OPTIONS -O0)
  set(BAYERCAM_APP_CODE_OPTIONS -O0)
endif()

# Driver code: no exceptions, no RTTI, only platform/ and the freestanding headers.
function(bayercam_driver_target target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  target_link_libraries(${target} PUBLIC bayercam_platform)
endfunction()

# The test framework's headers cost each test source seconds to parse; every test program takes
# them precompiled once, from bayercam_test_headers. The fuzz build keeps plain includes.
function(bayercam_use_test_headers target)
  if(BAYERCAM_FUZZ)
    return()
  endif()
  if(NOT TARGET bayercam_test_headers)
    file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/test_headers.cpp" CONTENT "")
    add_library(bayercam_test_headers OBJECT "${PROJECT_BINARY_DIR}/test_headers.cpp")
    target_link_libraries(bayercam_test_headers PRIVATE GTest::gtest GTest::gmock)
    target_precompile_headers(bayercam_test_headers PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
    # Compiled as the test executables are, or their compiler refuses the header: position
    # independent as an executable, and with -pthread, which GLib's flags bring to some of them.
    set_target_properties(bayercam_test_headers PROPERTIES POSITION_INDEPENDENT_CODE OFF)
    target_compile_options(bayercam_test_headers PRIVATE -fPIE -pthread)
  endif()
  target_compile_options(${target} PRIVATE -pthread)
  target_precompile_headers(${target} REUSE_FROM bayercam_test_headers)
endfunction()

# A GoogleTest program whose cases are registered with CTest one by one.
# Usage: bayercam_test(NAME SOURCES a.cpp b.cpp LIBS x y [LABELS concurrency])
function(bayercam_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  # The thread-sanitizer build runs the concurrency tests only, so it builds only those.
  set(excluded "")
  if(BAYERCAM_SANITIZE STREQUAL "thread" AND NOT "concurrency" IN_LIST T_LABELS)
    set(excluded EXCLUDE_FROM_ALL)
  endif()
  add_executable(${name} ${excluded} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  bayercam_use_test_headers(${name})
  if(excluded)
    return()
  endif()
  # A hang fails its test after the time-out instead of stalling the whole run.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 300)
  if(T_LABELS)
    # Discovery flattens a list of labels given through PROPERTIES, so the labels are set by a
    # script that CTest runs after discovery has listed the program's tests.
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${script}"
         "if(${name}_TESTS)\n"
         "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${T_LABELS}\")\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()

# Adds each listed folder that has a CMakeLists.txt; the build notices when one appears.
function(bayercam_add_subdirectories)
  foreach(dir ${ARGN})
    file(GLOB present CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    if(present)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
