# Component library. Two small modules are built for the tests: a component
# server (registered through regsvr into a scratch registry) and a shared
# library without entry points.
add_library(com_test_module MODULE com_test_module.cpp)
target_link_libraries(com_test_module PRIVATE marquen_platform_com)
add_library(com_test_bare_module MODULE com_test_bare_module.cpp)
set_target_properties(com_test_module com_test_bare_module PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

set(com_test_modules
  COM_TEST_MODULE_PATH="$<TARGET_FILE:com_test_module>"
  COM_TEST_BARE_MODULE_PATH="$<TARGET_FILE:com_test_bare_module>")

marquen_add_test(platform com_strings LIBS marquen_platform_com)
marquen_add_test(platform com_safearray LIBS marquen_platform_com)
marquen_add_test(platform com_objects LIBS marquen_platform_com LABELS threaded)
marquen_add_test(platform com_dispatch LIBS marquen_platform_com)
marquen_add_test(platform com_instance LIBS marquen_platform_com ${CMAKE_DL_LIBS})
target_compile_definitions(test_platform_com_instance PRIVATE ${com_test_modules})
add_dependencies(test_platform_com_instance com_test_module com_test_bare_module regsvr)
