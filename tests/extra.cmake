# Tests beyond the one-file-per-subsystem list of tests/CMakeLists.txt.
# Included from there, so varnel_add_test() is available.  Other helpers'
# additions go here too: one block per test, saying why it is built the way
# it is.

# ---- Fault sweeps: the file system fails at every byte and every seek ------
varnel_add_test(fault_sweep_test)

# ---- Exported symbols and version -----------------------------------------
# Compares `nm -D` of the two shared libraries with their headers, and the
# soname and version macros with the package version.  Shell and binutils
# only, so it also runs for cross builds (with the cross nm and readelf).
add_test(NAME symbols_test
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/symbols_test.sh $<TARGET_FILE:varnel>
          ${PROJECT_SOURCE_DIR} ${CMAKE_NM} ${CMAKE_READELF} ${PROJECT_VERSION}
          $<TARGET_FILE:tessel>)

# ---- Installation -----------------------------------------------------------
# Installs into a temporary prefix and builds hosts against it with
# pkg-config and find_package.  Not in sanitizer builds (an instrumented
# library cannot be loaded by uninstrumented hosts) nor in cross builds.
if(VARNEL_INSTALL AND NOT VARNEL_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  find_program(VARNEL_PKG_CONFIG pkg-config)
  if(VARNEL_PKG_CONFIG)
    if(VARNEL_BUILD_TOOLS)
      set(_varnel_with_tool ON)
    else()
      set(_varnel_with_tool OFF)
    endif()
    add_test(NAME install_test
      COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${PROJECT_BINARY_DIR}
              ${PROJECT_SOURCE_DIR} ${CMAKE_COMMAND} ${CMAKE_C_COMPILER} ${CMAKE_CXX_COMPILER}
              ${PROJECT_VERSION} ${_varnel_with_tool} ${CMAKE_GENERATOR})
    set_tests_properties(install_test PROPERTIES TIMEOUT 300)
  else()
    message(STATUS "pkg-config not found: install_test is not registered")
  endif()
endif()

# ---- valgrind memcheck on the demos ---------------------------------------
# The example host and the tool's demo steps: no invalid access, nothing
# definitely lost.  Uninstrumented native builds only: valgrind cannot run
# ASan binaries, and has no place under qemu.
if(TARGET demo AND NOT VARNEL_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  find_program(VARNEL_VALGRIND valgrind)
  if(VARNEL_VALGRIND)
    set(_varnel_valgrind_tool "")
    if(TARGET varnel_cli)
      set(_varnel_valgrind_tool $<TARGET_FILE:varnel_cli>)
    endif()
    add_test(NAME demo_valgrind
      COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/valgrind_demo.sh ${VARNEL_VALGRIND}
              ${PROJECT_SOURCE_DIR} $<TARGET_FILE:demo> ${_varnel_valgrind_tool})
    set_tests_properties(demo_valgrind PROPERTIES TIMEOUT 900)
  else()
    message(STATUS "valgrind not found: demo_valgrind is not registered")
  endif()
endif()

# ---- The command-line tool's end-to-end tests run the built tool ----------
if(TARGET cli_test AND TARGET varnel_cli)
  add_dependencies(cli_test varnel_cli)
  if(TARGET cli_check_test)
    add_dependencies(cli_check_test varnel_cli)
  endif()
endif()

# ---- render, end to end -----------------------------------------------------
# Runs the built tool like the other cli_ tests, and reads the PNG files it
# writes back with libpng (support/png_file.cpp, built into this test only,
# since the shared test support does not link libpng).
if(TARGET varnel_cli)
  varnel_add_test(cli_render_test)
  target_sources(cli_render_test PRIVATE support/png_file.cpp)
  find_package(PNG REQUIRED)
  find_package(ZLIB REQUIRED)
  target_link_libraries(cli_render_test PRIVATE PNG::PNG ZLIB::ZLIB)
  add_dependencies(cli_render_test varnel_cli)
endif()

# ---- The tool's support code ----------------------------------------------
# tools/common/ (varnel_tool_core) on hand-made bytes: Mac text.
if(TARGET varnel_tool_core)
  varnel_add_test(tool_mac_text_test)
  target_link_libraries(tool_mac_text_test PRIVATE varnel_tool_core varnel_static)
endif()

# ---- Image files in and out -------------------------------------------------
# The built-in reader on hand-made PNG and netpbm files, and the PNG encoder,
# whose files are read back with libpng.  Without libpng in the library the
# PNG cases check the refusals instead.
varnel_add_test(builtin_image_reader_test)
find_package(ZLIB)
if(VARNEL_WITH_PNG AND ZLIB_FOUND)
  target_link_libraries(builtin_image_reader_test PRIVATE ZLIB::ZLIB)
  target_compile_definitions(builtin_image_reader_test PRIVATE VARNEL_TEST_WITH_PNG=1)
  varnel_add_test(png_encoding_test)
  target_sources(png_encoding_test PRIVATE support/png_file.cpp)
  target_link_libraries(png_encoding_test PRIVATE PNG::PNG ZLIB::ZLIB)
endif()

# ---- The library without the stand-in's extension --------------------------
# VARNEL_TESSEL_FAST_PATH=OFF keeps the output primitives to fputb/fputm and
# the writer's patches to fputp.  So that this form is tested in every
# build, the sources that read the option are compiled once more with it off
# (and the extension hidden); all other objects, of the library and of the
# tests, are shared.  The stream tests and the fault sweeps run against it
# as PlainOutput.*.  Cross builds run the stream tests only: there every
# child of a sweep runs under an emulator, and the paths the option
# switches are the same on every machine.
if(VARNEL_TESSEL_FAST_PATH)
  add_library(varnel_plain_option_objects OBJECT ${VARNEL_OPTION_SOURCES})
  varnel_configure_objects(varnel_plain_option_objects)
  target_compile_definitions(varnel_plain_option_objects PRIVATE
    VARNEL_TESSEL_FAST_PATH=0 TESSEL_NO_EXTENSION)
  add_library(varnel_plain_static STATIC
    ${VARNEL_LIBRARY_OBJECTS} $<TARGET_OBJECTS:varnel_plain_option_objects>)
  target_include_directories(varnel_plain_static PUBLIC
    ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
  if(VARNEL_WITH_PNG)
    target_link_libraries(varnel_plain_static PUBLIC PNG::PNG)
  endif()

  add_library(varnel_test_support_plain STATIC $<TARGET_OBJECTS:varnel_test_support>)
  target_include_directories(varnel_test_support_plain PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(varnel_test_support_plain PUBLIC
    tessel_testing varnel_plain_static GTest::gtest)

  set(_varnel_plain_tests stream_test)
  if(NOT CMAKE_CROSSCOMPILING)
    list(APPEND _varnel_plain_tests fault_sweep_test)
  endif()
  foreach(name ${_varnel_plain_tests})
    if(NOT TARGET ${name})
      continue()
    endif()
    add_executable(${name}_plain $<TARGET_OBJECTS:${name}>)
    target_link_libraries(${name}_plain PRIVATE varnel_test_support_plain GTest::gtest)
    if(VARNEL_STATIC_TESTS)
      target_link_options(${name}_plain PRIVATE -static)
    endif()
    gtest_discover_tests(${name}_plain TEST_PREFIX "PlainOutput." DISCOVERY_TIMEOUT 60)
    varnel_add_whole_test(${name}_plain)
  endforeach()
endif()

# ---- The Python package -------------------------------------------------------
# pytest on python/tests/, one CTest entry a file, against the library of
# this build (VARNEL_LIBRARY) and the package's sources (PYTHONPATH), with
# Debian's python3 and python3-pytest.  Not in sanitizer builds (an
# instrumented library cannot be loaded into an uninstrumented interpreter)
# nor in cross builds.
# Without python3 or pytest one entry stands for them: it skips with the
# reason, and fails under CI=true, so the suite never shrinks silently.
if(NOT VARNEL_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  set(_varnel_pytest_status 1)
  if(VARNEL_PYTHON)
    execute_process(COMMAND ${VARNEL_PYTHON} -c "import pytest"
                    RESULT_VARIABLE _varnel_pytest_status OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(_varnel_pytest_status EQUAL 0)
    file(GLOB _varnel_python_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/python/tests/test_*.py)
    set(_varnel_python_environment
      "VARNEL_LIBRARY=$<TARGET_FILE:varnel>"
      "PYTHONPATH=${PROJECT_SOURCE_DIR}/python"
      "PYTHONDONTWRITEBYTECODE=1")
    if(TARGET varnel_cli)
      list(APPEND _varnel_python_environment "VARNEL_TOOL=$<TARGET_FILE:varnel_cli>")
    endif()
    foreach(file ${_varnel_python_tests})
      get_filename_component(_varnel_python_test ${file} NAME_WE)
      add_test(NAME python.${_varnel_python_test}
        COMMAND ${VARNEL_PYTHON} -m pytest -q -rs -p no:cacheprovider ${file}
        WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
      set_tests_properties(python.${_varnel_python_test} PROPERTIES
        ENVIRONMENT "${_varnel_python_environment}" LABELS python TIMEOUT 600)
    endforeach()
  else()
    add_test(NAME python.pytest_missing
      COMMAND sh -c "echo 'skipped: the Python tests need python3 with pytest (Debian: python3 python3-pytest)'; [ \"$CI\" != true ] && exit 77; exit 1")
    set_tests_properties(python.pytest_missing PROPERTIES SKIP_RETURN_CODE 77 LABELS python)
  endif()
endif()

# ---- Checking files: MacBin_CheckFile -------------------------------------------
# A clean file of each container, files damaged one way each, hostile maps,
# and the decoded BinHex forks that must never stay behind (it forks and
# kills a child in the middle of a decoding).
varnel_add_test(file_check_test)

# ---- The desktop integration: MIME types and the thumbnailer entry -----------------
# Installs into a temporary prefix, builds its MIME database and asks
# xdg-mime for the type of a file of each container (written by
# desktop_samples through the public API).  Skips with the reason (77) when
# shared-mime-info or xdg-utils are missing, fails then under CI=true.  Not
# in sanitizer or cross builds, as install_test.
if(VARNEL_INSTALL AND NOT VARNEL_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  add_executable(desktop_samples desktop_samples.c)
  target_link_libraries(desktop_samples PRIVATE varnel)
  varnel_set_warnings(desktop_samples)
  if(VARNEL_BUILD_TOOLS)
    set(_varnel_desktop_tool ON)
  else()
    set(_varnel_desktop_tool OFF)
  endif()
  add_test(NAME desktop_test
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/desktop_test.sh ${PROJECT_BINARY_DIR} ${CMAKE_COMMAND}
            $<TARGET_FILE:desktop_samples> ${_varnel_desktop_tool})
  set_tests_properties(desktop_test PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

# ---- The Finder's icon --------------------------------------------------------
# MacBin_FindFinderIcon on files written from memory: each rule, the members
# of a family and the fall-through past damaged ones.
varnel_add_test(finder_icon_test)

# ---- thumbnail, end to end --------------------------------------------------
# Runs the built tool and reads its PNGs back with libpng, like the render
# test; the expected icons are drawn by the static library in the test.
if(TARGET varnel_cli)
  varnel_add_test(cli_thumbnail_test)
  target_sources(cli_thumbnail_test PRIVATE support/png_file.cpp)
  target_link_libraries(cli_thumbnail_test PRIVATE PNG::PNG ZLIB::ZLIB)
  add_dependencies(cli_thumbnail_test varnel_cli)
endif()

# ---- The progress line --------------------------------------------------------
# Runs the built tool with standard error on a pseudo-terminal (forkpty, from
# libutil) and on pipes; the line's text is checked on the tool's own code
# (varnel_tool_core) with figures given by hand.
if(TARGET varnel_cli)
  varnel_add_test(cli_progress_test)
  target_link_libraries(cli_progress_test PRIVATE varnel_tool_core util)
  add_dependencies(cli_progress_test varnel_cli)
endif()
