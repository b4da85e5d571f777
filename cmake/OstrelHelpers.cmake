# ostrel_library(NAME DEPS...): a static library of every .cc file in the calling folder.
# Headers are included by their path from the project root ("ipdb/qqwry.h").
function(ostrel_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  if(NOT sources)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# ostrel_test(NAME SOURCES... LIBS ...): a GoogleTest program registered with CTest.
# Tests find their fixtures through OSTREL_TEST_DATA (tests/data) and the shared
# labelled corpus, when present, through OSTREL_SHARED_CORPUS.
function(ostrel_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest GTest::gtest_main
                                        GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    OSTREL_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    OSTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    OSTREL_BINARY_DIR="${PROJECT_BINARY_DIR}"
    OSTREL_SHARED_CORPUS="${PROJECT_SOURCE_DIR}/../shared/corpus")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
