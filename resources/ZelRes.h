#pragma once
/// The interface of the resource module libZelRes_ENU.so. The server never links the
/// module: it loads it by name at start-up (CResourceModule) and looks these entry
/// points up, so a translated module can take its place without rebuilding the server.
///
/// Every user-visible text of the server is a numbered string; the numbers are the
/// resource numbers of the system's documentation (messages, prompts, templates).

#include "platform/base/WinTypes.h"

/// Version of the module interface the server expects: 1 = numbered string table.
inline constexpr UINT kZelResInterfaceVersion = 1;

/// Entry point names and types, for dlsym.
inline constexpr const char* kZelResInterfaceVersionSymbol = "ZelResInterfaceVersion";
inline constexpr const char* kZelResLoadStringSymbol = "ZelResLoadString";
using PfnZelResInterfaceVersion = UINT (*)();
using PfnZelResLoadString = const char* (*)(UINT id);

extern "C" {
/// The interface version the module implements.
UINT ZelResInterfaceVersion();
/// The UTF-8 text of string number `id`, or null when the module has no such string.
/// The text lives as long as the module is loaded. Thread-safe (read-only data).
const char* ZelResLoadString(UINT id);
}
