// The per-user registry: the predefined roots and their keys, kept in one text
// file in the registry export format (reg_file.h) at
// $XDG_CONFIG_HOME/velmar/registry.reg (~/.config/velmar/registry.reg when the
// variable is unset), read anew at every access.
//
// Every change re-reads the file under an advisory lock (registry.lock beside it),
// applies itself and replaces the file atomically, so two running programs never
// lose each other's values and a crash mid-write leaves the previous file whole.
// A file that exists but cannot be read is never written over.
//
// Any thread; the lock serialises writers across threads and processes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/registry/reg_file.h"

namespace velmar {

using HKEY = std::uintptr_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006;

// The root's name in the file; a root that is none of the predefined ones is
// HKEY_CURRENT_USER.
std::string_view RootName(HKEY Root);

// The registry file of the current user.
std::string RegistryFileName();

// The registry as it is on disk now; false (and an empty file) when the file
// exists but cannot be read.
bool LoadRegistry(TRegFile& File);

// Applies Change to the newest registry under the lock and writes the result;
// false when the registry could not be read or written (nothing then changed).
bool UpdateRegistry(const std::function<void(TRegFile&)>& Change);

// A key's full path in the file: the root's name, '\' and Path.
std::string RegistryKeyPath(HKEY Root, std::string_view Path);

}  // namespace velmar
