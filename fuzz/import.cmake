# The import of colour and grey pictures: every decoder behind it (through the
# image library), the grey conversion, the resampling and the dithering.
if(TARGET marquen_image_import)
  marquen_add_fuzzer(image_import
    SOURCES fuzz_image_import.cpp
    LIBS marquen_image_import
    REPLAY ${PROJECT_SOURCE_DIR}/tests/data/import)
endif()
