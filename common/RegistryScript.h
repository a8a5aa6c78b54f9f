#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

// A registration script (the registry-script text our modules carry as
// "REGISTRY" resources) read into a tree of keys and values. Parse reads the
// whole script first and keeps nothing of one with an error.
//
// Grammar (keywords, root names and value types are case-insensitive):
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
// '=', a quote, the end), so "{GUID}" is a name and "Key{" is too. Quoted
// strings end on their line. Key names must be 1-255 characters without a
// backslash; a key named like a keyword needs quotes. Blocks nest at most
// kMaxDepth deep, root block included. The text ends at its first null
// character.
//
// %NAME% is replaced by the replacement of that name (names compared without
// regard to case) and %% by a percent sign, in words and quoted strings
// alike; a lone % or an unknown name is an error. The replacement is taken
// literally: quotes, braces or blanks in it (a path such as
// "C:\Bob's files\x.exe") stay part of the one name or text.
class CRegistryScript
{
public:
    static const int kMaxDepth = 32;
    // The registry's limit on one key name.
    static const size_t kMaxKeyName = 255;

    enum class EntryKind
    {
        Key,
        Value,
        Delete,
    };

    enum class KeyMode
    {
        Plain,
        NoRemove,
        ForceRemove,
    };

    struct Value
    {
        bool present = false;
        DWORD type = REG_SZ;
        std::string text;
        DWORD number = 0;
    };

    struct Entry
    {
        EntryKind kind = EntryKind::Key;
        KeyMode mode = KeyMode::Plain;
        std::string name;
        Value value;
        std::vector<Entry> children;
    };

    struct Root
    {
        HKEY key = nullptr;
        std::string name;
        std::vector<Entry> children;
    };

    // Reads script with the placeholders' replacements, keyed by their names
    // in upper case (see UpperCase). False with "line N: what" in error.
    bool Parse(const std::string& script, const std::map<std::string, std::string>& replacements, std::string& error);

    const std::vector<Root>& Roots() const { return m_roots; }

    // A placeholder name as the replacements are keyed.
    static std::string UpperCase(const std::string& name);

private:
    std::vector<Root> m_roots;
};
