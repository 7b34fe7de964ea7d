#pragma once
// Helpers shared by the sources of the component library; not installed.
#include "variant.h"

#include <cstdint>

/// Value of a variant of an integer type (VT_I1..VT_UI8, VT_INT, VT_UINT,
/// VT_BOOL, VT_ERROR) by its own type; false for any other type.
bool VariantIntegerValue(const VARIANT& value, int64_t& out);
