# marquen_add_test(<subsystem> <unit> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# Builds tests/<subsystem>/<unit>_test.cpp (plus SOURCES) into one GoogleTest
# executable and registers its cases with CTest one by one.
include(GoogleTest)

function(marquen_add_test subsystem unit)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  set(target test_${subsystem}_${unit})
  add_executable(${target} ${unit}_test.cpp ${T_SOURCES})
  target_link_libraries(${target} PRIVATE marquen_test_support ${T_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # A list-valued property reaches the generated test file only with its
  # separators escaped once for each time the GoogleTest module (CMake 3.25,
  # Ninja) splits it on the way: eight backslashes. Unescaped, every item
  # after the first was lost (no MARQUEN_BIN_DIR, no extra labels).
  set(labels ${subsystem} ${T_LABELS})
  string(REPLACE ";" "\\\\\\\\\\\\\\\\;" labels "${labels}")
  # XDG_CONFIG_DIRS: an installed package's system-wide registration stays out
  # of the tests; they see the build's own, registered per user.
  set(environment "MARQUEN_SOURCE_DIR=${PROJECT_SOURCE_DIR}" "MARQUEN_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
                  "XDG_CONFIG_DIRS=${CMAKE_BINARY_DIR}/no-system-config")
  string(REPLACE ";" "\\\\\\\\\\\\\\\\;" environment "${environment}")
  gtest_discover_tests(${target}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${labels}" ENVIRONMENT "${environment}")
endfunction()
