#pragma once
#include <windows.h>

#include <string>

#include "RegistryScript.h"

// Writes a registration script's tree into the registry, or removes what
// writing it put there.
//
// Register: plain and NoRemove keys are created or opened and given their
// default value; a ForceRemove key is first deleted with everything below it;
// val entries are set; Delete keys are deleted with everything below. The
// first registry failure stops it, and what was written so far stays.
// Unregister: a ForceRemove key is deleted with everything below it; for a
// plain key the listed values and sub-keys are removed, then the key itself
// when nothing else is left in it apart from the default value the script
// gave it (a key that holds sub-keys or values of other registrations is kept
// whole); a NoRemove key is never deleted, but what is listed below it is
// removed; Delete entries do nothing; keys or values already gone are no
// error. It removes all it can and returns the first failure.
class CRegistryScriptWriter
{
public:
    // The platform's result of the first failure, ERROR_SUCCESS when none.
    LONG Register(const CRegistryScript& script);
    LONG Unregister(const CRegistryScript& script);

    // The key path ("HKCU\Software\...") at which the first failure happened.
    const std::string& FailedAt() const { return m_failedAt; }

private:
    LONG RegisterEntries(HKEY parent, const std::string& path, const std::vector<CRegistryScript::Entry>& entries);
    LONG UnregisterEntries(HKEY parent, const std::string& path, const std::vector<CRegistryScript::Entry>& entries);
    LONG RegisterEntry(HKEY parent, const std::string& parentPath, const CRegistryScript::Entry& entry);
    LONG UnregisterEntry(HKEY parent, const std::string& parentPath, const CRegistryScript::Entry& entry);
    LONG Note(LONG result, const std::string& path);

    std::string m_failedAt;
};
