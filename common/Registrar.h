#pragma once
#include <windows.h>

#include <map>
#include <string>

#include "RegistryScript.h"

// Applies registration scripts (the registry-script text our modules carry as
// "REGISTRY" resources) to the registry: in register mode it writes the keys
// and values the script names, in unregister mode it removes what register
// mode wrote. The whole script is read first (CRegistryScript describes the
// grammar); a script with any error writes nothing. CRegistryScriptWriter
// describes what each mode does to the registry.
class CRegistrar
{
public:
    static const int kMaxDepth = CRegistryScript::kMaxDepth;

    // Adds (or replaces) the value of the placeholder %name%.
    void AddReplacement(const std::string& name, const std::string& value);

    // Applies a script: doRegister true writes it, false removes what it
    // wrote. Returns S_OK; DISP_E_EXCEPTION for an error in the script (then
    // nothing is written); HRESULT_FROM_WIN32(code) for a registry failure;
    // E_OUTOFMEMORY. Register mode stops at the first registry failure and
    // leaves what it wrote so far; unregister mode removes all it can and
    // returns the first failure.
    HRESULT Apply(const std::string& script, bool doRegister);

    // Loads the script from a module's resource of type "REGISTRY" and the
    // given id, then applies it. ANSI text, or UTF-16 with its byte-order mark;
    // the text ends at the resource's end or its first null character. A
    // missing resource gives HRESULT_FROM_WIN32 of the platform's error
    // (ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND, ...).
    HRESULT ApplyResource(HMODULE module, UINT resourceId, bool doRegister);

    // Why the last Apply or ApplyResource failed, for traces: a script error
    // with its line number, or the registry key at which a registry call
    // failed. Empty after success.
    const std::string& GetErrorText() const { return m_errorText; }

private:
    HRESULT ApplyText(const std::string& script, bool doRegister);

    // Keyed by the name in upper case.
    std::map<std::string, std::string> m_replacements;
    bool m_replacementLost = false;
    std::string m_errorText;
};
