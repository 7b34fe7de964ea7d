# One target per picture decoder. Besides its seed corpus each replays the
# format's test data (good, questionable and bad files alike).
foreach(format bmp epson_gfx logo raster_gfx raster_gfx_ext)
  marquen_add_fuzzer(${format}
    SOURCES fuzz_${format}.cpp
    LIBS marquen_picture
    REPLAY ${PROJECT_SOURCE_DIR}/tests/data/${format})
endforeach()
