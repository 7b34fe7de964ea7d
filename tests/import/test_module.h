#pragma once
// Loads the image library module from the build's bin/ before any test runs:
// the importer looks beside the program first (tests/ has no module), then
// by name, which finds this already loaded copy by its soname.
#include <dlfcn.h>

#include <cstdio>

namespace import_test {

inline const bool kModuleLoaded = [] {
    if (::dlopen(MARQUEN_VIPS_READER_PATH, RTLD_NOW | RTLD_GLOBAL) != nullptr)
        return true;
    std::fprintf(stderr, "cannot load %s: %s\n", MARQUEN_VIPS_READER_PATH, ::dlerror());
    return false;
}();

}  // namespace import_test
