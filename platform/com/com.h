#pragma once
// The component library in one include: identifiers and result codes,
// strings, variants and safe arrays, the interfaces, counted references,
// apartments and instance creation, static type descriptions with dispatch,
// the call-by-description service and the error exception.
#include "apartment.h"
#include "bstr.h"
#include "call.h"
#include "com_error.h"
#include "com_ptr.h"
#include "guid.h"
#include "hresult.h"
#include "interfaces.h"
#include "type_description.h"
#include "variant.h"
