// Fuzz target: arbitrary bytes read as a LOGO picture.
#include "picture_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return picture_fuzz::FuzzDecoder(LOGO, data, size);
}
