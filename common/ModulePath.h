#pragma once
#include <windows.h>

#include <string>

// Bits of GetModulePathPart's mask, combined with |.
enum ModulePathParts : unsigned int
{
    MODULE_PATH_DRIVE = 1,
    MODULE_PATH_DIR = 2,
    MODULE_PATH_FNAME = 4,
    MODULE_PATH_EXT = 8,
    MODULE_PATH_FULL = 15,
};

// Gives the chosen parts of a loaded module's full file name, in the order
// drive, directory (with its trailing backslash), file name, extension (with
// its dot). A mask of 0 or 15 gives the full name as the system returns it.
// False, with the out string empty, when the module's name cannot be obtained.
bool GetModulePathPart(std::string& out, unsigned int mask, HMODULE module);
