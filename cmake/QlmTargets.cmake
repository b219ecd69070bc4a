# Helpers shared by every layer: one static library per layer, built from the
# layer's sources with the project's warning set, and one GoogleTest binary
# per layer registered with CTest.

set(QLM_WARNINGS -Wall -Wextra -Werror -Wno-missing-field-initializers)

# qlm_layer(<name> DEPS <targets...> [INTERNAL <headers...>])
# Builds every .cpp of the calling folder into the static library <name>.
#
# The library's users see only its public headers. The headers of its inside
# (everything under an internal/ folder, and the headers of the folder named
# after INTERNAL) stay in the source folder, which is on no include path: the
# library's sources find them beside themselves. The public ones (the folder's other .h files) are linked into
# <binary folder>/public_include, the library's public include folder, which
# holds nothing else: no spelling of an internal header ("x.h",
# "internal/x.h", "<folder>/internal/x.h") is found from another library.
# tests/include_wall checks every spelling from every library.
function(qlm_layer name)
  cmake_parse_arguments(ARG "" "" "DEPS;INTERNAL" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_library(${name} STATIC ${_sources})
  file(GLOB _headers CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  file(GLOB_RECURSE _internal CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/internal/*.h")
  list(TRANSFORM ARG_INTERNAL PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
  foreach(_header ${ARG_INTERNAL})
    if(NOT EXISTS "${_header}")
      message(FATAL_ERROR "qlm_layer(${name}): no internal header ${_header}")
    endif()
  endforeach()
  list(APPEND _internal ${ARG_INTERNAL})
  list(REMOVE_ITEM _headers ${ARG_INTERNAL})
  qlm_public_include_folder("${CMAKE_CURRENT_BINARY_DIR}/public_include" ${_headers})
  target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_BINARY_DIR}/public_include")
  target_compile_options(${name} PRIVATE ${QLM_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES QLM_SOURCE_FOLDER "${CMAKE_CURRENT_SOURCE_DIR}"
    QLM_PUBLIC_HEADERS "${_headers}" QLM_INTERNAL_HEADERS "${_internal}")
  set_property(GLOBAL APPEND PROPERTY QLM_LAYERS ${name})
endfunction()

# qlm_public_include_folder(<folder> <headers...>)
# Makes <folder> hold exactly a symbolic link to each of <headers>: links to
# headers no longer public are removed. A link, not a copy, so that a header
# reached by both paths in one build is one file to #pragma once and the
# compiler's messages name the source.
function(qlm_public_include_folder folder)
  file(MAKE_DIRECTORY "${folder}")
  file(GLOB _present LIST_DIRECTORIES true "${folder}/*")
  set(_wanted "")
  foreach(_header ${ARGN})
    get_filename_component(_file "${_header}" NAME)
    list(APPEND _wanted "${folder}/${_file}")
    file(CREATE_LINK "${_header}" "${folder}/${_file}" SYMBOLIC)
  endforeach()
  foreach(_entry ${_present})
    if(NOT _entry IN_LIST _wanted)
      file(REMOVE_RECURSE "${_entry}")
    endif()
  endforeach()
endfunction()

# qlm_test_binary(<name> DIR <folder> DEPS <targets...> [ALONE <files...>])
# Builds every .cpp in tests/<folder> together with the shared test main into
# one GoogleTest binary and registers its tests with CTest.
#
# With QLM_UNITY_TESTS (the default) the folder's files are compiled in
# batches of QLM_UNITY_BATCH, each batch one file that includes them: every
# test file otherwise parses and instantiates GoogleTest on its own, which
# was most of the build's time. A file in a batch sees the file-local names
# (anonymous namespaces, statics, using-directives, macros) of the files
# before it, so those must differ across the folder; the files named after
# ALONE (names relative to the folder) keep such names and are compiled on
# their own. GCC warns of a fixture in an anonymous namespace when it is not
# in the main file, as it is not in a batch: that warning is off for these
# binaries.
function(qlm_test_binary name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;ALONE" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR}/*.cpp")
  add_executable(${name} ${_sources})
  target_compile_options(${name} PRIVATE ${QLM_WARNINGS})
  target_link_libraries(${name} PRIVATE qlm_test_support ${ARG_DEPS} GTest::gtest GTest::gmock)
  if(QLM_UNITY_TESTS)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${QLM_UNITY_BATCH})
    target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
    list(TRANSFORM ARG_ALONE PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR}/")
    if(ARG_ALONE)
      set_source_files_properties(${ARG_ALONE} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS ${ARG_DIR})
endfunction()

# The window-system tests: GoogleTest binaries on the GTK backend, each test
# run on its own under a private X server (tests/gui_support/run_gui_test.sh,
# which answers 77, skipped, where none can be started), with the support
# folder tests/gui_support on the include path and its leak suppressions.
#
# qlm_gui_test_binary(<name> DIR <folder> DEPS <targets...>)
#   every .cpp of tests/<folder> in one binary.
# qlm_gui_tests(<binary> [PREFIX <prefix>] TESTS <Suite.Test>...)
#   registers each as Gui.<prefix><Test>.
# qlm_gui_test(<ctest name> [TIMEOUT <s>] COMMAND <program> <args...>)
#   one test (a script that drives a program, say) under the private X
#   server, with the same properties.
set(QLM_GUI_SUPPORT "${PROJECT_SOURCE_DIR}/tests/gui_support")

function(qlm_gui_test_binary name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR}/*.cpp")
  add_executable(${name} ${_sources})
  target_include_directories(${name} PRIVATE "${QLM_GUI_SUPPORT}")
  target_compile_options(${name} PRIVATE ${QLM_WARNINGS})
  target_link_libraries(${name} PRIVATE qlm_test_support ${ARG_DEPS} GTest::gtest)
endfunction()

function(qlm_gui_test test_name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "COMMAND" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_test(NAME ${test_name} COMMAND "${QLM_GUI_SUPPORT}/run_gui_test.sh" ${ARG_COMMAND})
  set_tests_properties(${test_name} PROPERTIES
    LABELS gui TIMEOUT ${ARG_TIMEOUT} SKIP_RETURN_CODE 77 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]|SKIPPED:"
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${QLM_GUI_SUPPORT}/lsan.supp:print_suppressions=0")
endfunction()

function(qlm_gui_tests binary)
  cmake_parse_arguments(ARG "" "PREFIX;TIMEOUT" "TESTS" ${ARGN})
  foreach(_test ${ARG_TESTS})
    string(REGEX REPLACE "^[A-Za-z]+\\." "" _name "${_test}")
    qlm_gui_test(Gui.${ARG_PREFIX}${_name} TIMEOUT ${ARG_TIMEOUT}
      COMMAND $<TARGET_FILE:${binary}> --gtest_filter=${_test})
  endforeach()
endfunction()

# qlm_fuzz_target(<name> DEPS <targets...> [SOURCES <files...>])
# One libFuzzer target, fuzz/<name>_fuzz.cpp, and the CTest replay of its
# corpus fuzz/corpus/<name>. The replay (<name>_replay: the same entry
# function driven by fuzz/replay_main.cpp) is built in every configuration;
# the fuzzer itself (<name>_fuzz) only with QLM_FUZZ. The fuzz build
# instruments every library, so the DEPS give the fuzzer the coverage of
# all they hold; SOURCES (files once compiled into the fuzzer for that) are
# no longer needed and are ignored.
function(qlm_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  set(_entry "${PROJECT_SOURCE_DIR}/fuzz/${name}_fuzz.cpp")
  # The replay's main is the same for every target: compiled once.
  if(NOT TARGET qlm_replay_main)
    add_library(qlm_replay_main OBJECT "${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp")
    target_compile_options(qlm_replay_main PRIVATE ${QLM_WARNINGS})
  endif()
  add_executable(${name}_replay "${_entry}" $<TARGET_OBJECTS:qlm_replay_main>)
  target_include_directories(${name}_replay PRIVATE "${PROJECT_SOURCE_DIR}/fuzz")
  target_compile_options(${name}_replay PRIVATE ${QLM_WARNINGS})
  target_link_libraries(${name}_replay PRIVATE ${ARG_DEPS})
  add_test(NAME ${name}_replay COMMAND ${name}_replay "${PROJECT_SOURCE_DIR}/fuzz/corpus/${name}")
  set_tests_properties(${name}_replay PROPERTIES TIMEOUT 120 LABELS fuzz)
  if(QLM_FUZZ)
    add_executable(${name}_fuzz "${_entry}")
    target_include_directories(${name}_fuzz PRIVATE "${PROJECT_SOURCE_DIR}/fuzz")
    target_compile_options(${name}_fuzz PRIVATE ${QLM_WARNINGS})
    target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name}_fuzz PRIVATE ${ARG_DEPS})
  endif()
endfunction()
