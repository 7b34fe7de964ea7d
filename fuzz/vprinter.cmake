# The virtual printer's byte-stream parser.
marquen_add_fuzzer(vprinter_stream
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/vprinter_stream_fuzzer.cpp
  LIBS marquen_vprinter_model)
