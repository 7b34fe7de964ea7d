// Fuzz target: arbitrary bytes read as a EPSON_GFX picture.
#include "picture_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return picture_fuzz::FuzzDecoder(EPSON_GFX, data, size);
}
