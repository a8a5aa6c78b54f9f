#include "ModulePath.h"

#include "PathSplit.h"

bool GetModulePathPart(std::string& out, unsigned int mask, HMODULE module)
{
    if (mask == 0)
        mask = MODULE_PATH_FULL;
    out.clear();

    // A name that fills the buffer may have been cut (Windows XP then leaves it
    // unterminated); count that as failure rather than return half a path.
    char name[520 + 1] = {};
    const DWORD length = GetModuleFileNameA(module, name, 520);
    if (length == 0 || length >= 520)
        return false;

    if (mask == MODULE_PATH_FULL)
    {
        out.assign(name, length);
        return true;
    }

    const PathParts parts = SplitPath(std::string(name, length));
    if (mask & MODULE_PATH_DRIVE)
        out += parts.drive;
    if (mask & MODULE_PATH_DIR)
        out += parts.dir;
    if (mask & MODULE_PATH_FNAME)
        out += parts.fname;
    if (mask & MODULE_PATH_EXT)
        out += parts.ext;
    return true;
}
