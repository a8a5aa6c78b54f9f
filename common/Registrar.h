#pragma once
#include <windows.h>

#include <map>
#include <string>

// Applies registration scripts (the registry-script text our modules carry as
// "REGISTRY" resources) to the registry: in register mode it writes the keys
// and values the script names, in unregister mode it removes what register
// mode wrote. The whole script is read into a tree first; a script with any
// error writes nothing.
//
// Script grammar (keywords, root names and value types are case-insensitive):
//   script  := { root '{' body '}' }
//   root    := HKCR | HKEY_CLASSES_ROOT | HKCU | HKEY_CURRENT_USER
//            | HKLM | HKEY_LOCAL_MACHINE | HKU | HKEY_USERS
//   body    := { entry }
//   entry   := [NoRemove | ForceRemove] name ['=' value] ['{' body '}']
//            | val name '=' value          (a named value of the enclosing key)
//            | Delete name                 (a key removed, with its sub-keys, on register)
//   value   := s text                      (REG_SZ)
//            | d text                      (REG_DWORD, decimal or 0x hex, 0..0xFFFFFFFF)
//   name, text := a bare word, or a string in single quotes in which '' is a quote.
// A bare word runs to white space, '=' or a quote; a brace is a token of its
// own only when what follows cannot continue a word (white space, a brace,
// '=', a quote, the end), so "{GUID}" is a name and "Key{" is too. Quoted strings end on their line. Key names must be
// 1-255 characters without a backslash; a key named like a keyword needs quotes.
// Blocks nest at most kMaxDepth deep, root block included.
//
// %NAME% is replaced by the value given to AddReplacement (names compared
// without regard to case) and %% by a percent sign, in words and quoted
// strings alike; a lone % or an unknown name is an error. The replacement is
// taken literally: quotes, braces or blanks in it (a path such as
// "C:\Bob's files\x.exe") stay part of the one name or text.
//
// Register mode: plain and NoRemove keys are created or opened and given
// their default value; a ForceRemove key is first deleted with everything
// below it; val entries are set; Delete keys are deleted with everything below.
// Unregister mode: a ForceRemove key is deleted with everything below it; for
// a plain key the listed values and sub-keys are removed, then the key itself
// when nothing else is left in it apart from the default value the script
// gave it (a key that holds sub-keys or values of other registrations is kept
// whole); a NoRemove key is never deleted, but what is listed below it is
// removed; Delete entries do nothing; keys or values already gone are no error.
class CRegistrar
{
public:
    static const int kMaxDepth = 32;

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
