# The two text parsers that read files the user (or another program) writes:
# the component registry's store and the port map.
marquen_add_fuzzer(registry
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_registry.cpp
  LIBS marquen_platform_registry)
marquen_add_fuzzer(port_map
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_port_map.cpp
  LIBS marquen_platform_devices)
