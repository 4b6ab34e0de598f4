# GoogleTest for the tests.  Normally the installed package; with
# VARNEL_GTEST_FROM_SOURCE (cross builds, where the installed libraries are
# for the wrong machine) it is built from the sources that Debian's
# googletest package installs.
option(VARNEL_GTEST_FROM_SOURCE "Build GoogleTest from its sources (cross builds)" OFF)
set(VARNEL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources used with VARNEL_GTEST_FROM_SOURCE")

if(VARNEL_GTEST_FROM_SOURCE)
  if(NOT TARGET GTest::gtest)
    if(NOT EXISTS ${VARNEL_GTEST_SOURCE_DIR}/CMakeLists.txt)
      message(FATAL_ERROR "No GoogleTest sources in ${VARNEL_GTEST_SOURCE_DIR} "
                          "(Debian package googletest); set VARNEL_GTEST_SOURCE_DIR")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "Install GoogleTest" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "Build GoogleMock" FORCE)
    # Defines GTest::gtest, GTest::gtest_main, GTest::gmock, GTest::gmock_main.
    add_subdirectory(${VARNEL_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
