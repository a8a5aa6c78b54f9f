#pragma once
#include <windows.h>

#include <string>

// String values of the registry, read and written whole.

// Reads a string value. Without the key: false, value unchanged. Without the
// value: false, value = defaultText. An empty value: true, empty. Otherwise
// the whole text (of any length) and whether it could be read.
bool RegValueGet(HKEY hive, const std::string& key, const std::string& name, std::string& value,
                 const std::string& defaultText);

// Writes a string value (REG_SZ, its terminating NUL included), creating the
// key when it is missing.
bool RegValueSet(HKEY hive, const std::string& key, const std::string& name, const std::string& value);
