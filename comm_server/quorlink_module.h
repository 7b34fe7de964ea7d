#pragma once
// What libquorlink.so exports besides the four entry points of a component
// server (com/server_exports.h).
#include "win_types.h"

#define QUORLINK_EXPORT __attribute__((visibility("default")))

/// Identifier of the module's name string, "Quorlink".
constexpr UINT IDS_PROJNAME = 100;

extern "C" {
/// The module's string resource `id` (UTF-8, static storage), or null when
/// it has none. Only IDS_PROJNAME exists. Any thread.
QUORLINK_EXPORT const char* QuorlinkLoadString(UINT id) noexcept;
}

using QuorlinkLoadStringFunction = const char* (*)(UINT);
