# Helpers shared by every layer: one static library per layer, built from the
# layer's sources with the project's warning set, and one GoogleTest binary
# per layer registered with CTest.

set(QLM_WARNINGS -Wall -Wextra -Werror -Wno-missing-field-initializers)

# qlm_layer(<name> DEPS <targets...>)
# Builds every .cpp of the calling folder into the static library <name>.
function(qlm_layer name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_library(${name} STATIC ${_sources})
  target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
  target_compile_options(${name} PRIVATE ${QLM_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# qlm_test_binary(<name> DIR <folder> DEPS <targets...>)
# Builds every .cpp in tests/<folder> together with the shared test main into
# one GoogleTest binary and registers its tests with CTest.
function(qlm_test_binary name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR}/*.cpp")
  add_executable(${name} ${_sources})
  target_compile_options(${name} PRIVATE ${QLM_WARNINGS})
  target_link_libraries(${name} PRIVATE qlm_test_support ${ARG_DEPS} GTest::gtest GTest::gmock)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS ${ARG_DIR})
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
  add_executable(${name}_replay "${_entry}" "${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp")
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
