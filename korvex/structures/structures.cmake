# The structure proxies: a generator, built first, checks the layout data and
# turns it into the SPC_/UPC_ classes inside the build directory, as LLVM's
# TableGen does. The generated sources are split into a few parts so that the
# two cores compile them side by side.
set(KORVEX_PROXY_PARTS 4)
set(KORVEX_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
set(KORVEX_LAYOUTS ${PROJECT_SOURCE_DIR}/korvex/structures/layouts.txt)

add_executable(korvex_generate_proxies
               ${PROJECT_SOURCE_DIR}/korvex/structures/generator/generate_proxies.cpp
               ${PROJECT_SOURCE_DIR}/korvex/structures/layout_data.cpp)
target_include_directories(korvex_generate_proxies PRIVATE ${PROJECT_SOURCE_DIR})

set(KORVEX_GENERATED_SOURCES)
math(EXPR _korvex_last_part "${KORVEX_PROXY_PARTS} - 1")
foreach(part RANGE ${_korvex_last_part})
  list(APPEND KORVEX_GENERATED_SOURCES ${KORVEX_GENERATED_DIR}/proxies_${part}.cpp)
endforeach()
add_custom_command(
  OUTPUT ${KORVEX_GENERATED_DIR}/korvex/structures/proxies.h ${KORVEX_GENERATED_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVEX_GENERATED_DIR}/korvex/structures
  COMMAND korvex_generate_proxies ${KORVEX_LAYOUTS} ${KORVEX_GENERATED_DIR} ${KORVEX_PROXY_PARTS}
  DEPENDS korvex_generate_proxies ${KORVEX_LAYOUTS}
  COMMENT "Checking the structure layouts and generating the proxies"
  VERBATIM)
target_sources(korvex_lib PRIVATE ${KORVEX_GENERATED_SOURCES})
# The generated code needs no warning switched off: the project's one (GCC 12's
# false -Wrestrict inside std::string) is switched back on for it.
set(_korvex_generated_options)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND _korvex_generated_options -Wrestrict)
endif()
# Debug information of the generated code: line tables only. Its one-line
# member calls need no variable locations, and full -g makes these files
# cost 40 % more to compile (each is compiled in every build of CI).
string(TOUPPER "${CMAKE_BUILD_TYPE}" _korvex_build_type)
if(" ${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${_korvex_build_type}} " MATCHES " -g ")
  list(APPEND _korvex_generated_options -g1)
endif()
if(_korvex_generated_options)
  set_source_files_properties(${KORVEX_GENERATED_SOURCES} PROPERTIES
                              COMPILE_OPTIONS "${_korvex_generated_options}")
endif()
target_include_directories(korvex_lib PUBLIC $<BUILD_INTERFACE:${KORVEX_GENERATED_DIR}>)

# `korvex tree` lists 56,533 lines: checked by count and a few lines.
if(KORVEX_BUILD_TESTS AND KORVEX_BUILD_TOOLS)
  add_test(NAME cli.tree
           COMMAND ${CMAKE_COMMAND} -DKORVEX=$<TARGET_FILE:korvex>
                   -DSAMPLE=${PROJECT_SOURCE_DIR}/machines/sample
                   -DWORK=${PROJECT_BINARY_DIR}/cli-work/tree
                   -P ${PROJECT_SOURCE_DIR}/tests/cli/tree_check.cmake)
endif()
