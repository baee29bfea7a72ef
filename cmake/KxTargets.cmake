# kx_library(NAME SOURCES... [LIBS ...]): a static library of the project, rooted at the source tree
# so that includes read "protocol/Envelope.h", "agent/transport/Session.h" ...
function(kx_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# kx_test(NAME SOURCES... [LIBS ...] [LABELS ...]): a GoogleTest executable registered with CTest.
function(kx_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}"
    # A list cannot pass through gtest_discover_tests' PROPERTIES: one variable per property.
    ENVIRONMENT "KX_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    ENVIRONMENT_MODIFICATION "KX_BINARY_DIR=set:${PROJECT_BINARY_DIR}")
endfunction()
