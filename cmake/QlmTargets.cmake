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
