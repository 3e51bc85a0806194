# GoogleTest for the cross builds (Windows, and Linux on s390x or aarch64).
# Debian's GoogleTest libraries are built for the build machine only, so these
# builds compile GoogleTest from the sources Debian ships in /usr/src/googletest
# (libgtest-dev). Provides GTest::gtest and GTest::gtest_main like
# find_package(GTest); on Windows the main() makes a crash fail the test under
# Wine, elsewhere it is GoogleTest's own.
set(ZELK_GTEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${ZELK_GTEST_SOURCE_DIR}/src/gtest-all.cc)
  message(FATAL_ERROR "GoogleTest sources not found in ${ZELK_GTEST_SOURCE_DIR} (libgtest-dev)")
endif()

add_library(zelk_cross_gtest STATIC ${ZELK_GTEST_SOURCE_DIR}/src/gtest-all.cc)
target_include_directories(zelk_cross_gtest
  SYSTEM PUBLIC ${ZELK_GTEST_SOURCE_DIR}/include PRIVATE ${ZELK_GTEST_SOURCE_DIR})
if(WIN32)
  add_library(zelk_cross_gtest_main STATIC ${CMAKE_CURRENT_LIST_DIR}/guarded_gtest_main.cpp)
else()
  add_library(zelk_cross_gtest_main STATIC ${ZELK_GTEST_SOURCE_DIR}/src/gtest_main.cc)
endif()
target_link_libraries(zelk_cross_gtest_main PUBLIC zelk_cross_gtest)
target_compile_options(zelk_cross_gtest_main PRIVATE -Wall -Wextra -Werror)
add_library(GTest::gtest ALIAS zelk_cross_gtest)
add_library(GTest::gtest_main ALIAS zelk_cross_gtest_main)
