// Fuzz target: arbitrary bytes read as a RASTER_GFX picture.
#include "picture_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return picture_fuzz::FuzzDecoder(RASTER_GFX, data, size);
}
