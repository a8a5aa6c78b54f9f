#include "RegistryScriptWriter.h"

#include <vector>

#include "ScopedRegKey.h"

namespace
{

using Entry = CRegistryScript::Entry;
using EntryKind = CRegistryScript::EntryKind;
using KeyMode = CRegistryScript::KeyMode;
using Value = CRegistryScript::Value;

const REGSAM kKeyAccess = KEY_READ | KEY_WRITE;

bool Ignorable(LONG result)
{
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

// Deletes parent\name and everything below it (RegDeleteTree is Vista's).
LONG DeleteKeyTree(HKEY parent, const std::string& name)
{
    std::vector<std::string> subKeys;
    {
        CScopedRegKey key;
        LONG result = key.Open(parent, name.c_str(), kKeyAccess);
        if (result != ERROR_SUCCESS)
            return result;
        char buffer[CRegistryScript::kMaxKeyName + 1];
        for (DWORD index = 0;; ++index)
        {
            DWORD length = sizeof(buffer);
            result = RegEnumKeyExA(key.Get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
            if (result == ERROR_NO_MORE_ITEMS)
                break;
            if (result != ERROR_SUCCESS)
                return result;
            subKeys.emplace_back(buffer, length);
        }
        for (const std::string& subKey : subKeys)
        {
            result = DeleteKeyTree(key.Get(), subKey);
            if (!Ignorable(result))
                return result;
        }
    }
    return RegDeleteKeyA(parent, name.c_str());
}

LONG SetValue(HKEY key, const char* name, const Value& value)
{
    if (value.type == REG_DWORD)
    {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                              sizeof(value.number));
    }
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()),
                          static_cast<DWORD>(value.text.size() + 1));
}

// True when the key has no sub-keys and no values other than the default
// value that the entry itself sets.
LONG HoldsOnlyOwnEntries(HKEY key, const Entry& entry, bool& holdsOnlyOwn)
{
    DWORD subKeys = 0;
    DWORD values = 0;
    const LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                         nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    if (subKeys != 0 || values > 1)
        holdsOnlyOwn = false;
    else if (values == 0)
        holdsOnlyOwn = true;
    else
        holdsOnlyOwn =
            entry.value.present && RegQueryValueExA(key, "", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

} // namespace

LONG CRegistryScriptWriter::Register(const CRegistryScript& script)
{
    for (const CRegistryScript::Root& root : script.Roots())
    {
        const LONG result = RegisterEntries(root.key, root.name, root.children);
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}

LONG CRegistryScriptWriter::Unregister(const CRegistryScript& script)
{
    LONG first = ERROR_SUCCESS;
    for (const CRegistryScript::Root& root : script.Roots())
    {
        const LONG result = UnregisterEntries(root.key, root.name, root.children);
        if (first == ERROR_SUCCESS)
            first = result;
    }
    return first;
}

LONG CRegistryScriptWriter::RegisterEntries(HKEY parent, const std::string& path, const std::vector<Entry>& entries)
{
    for (const Entry& entry : entries)
    {
        const LONG result = RegisterEntry(parent, path, entry);
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}

LONG CRegistryScriptWriter::UnregisterEntries(HKEY parent, const std::string& path, const std::vector<Entry>& entries)
{
    LONG first = ERROR_SUCCESS;
    for (const Entry& entry : entries)
    {
        const LONG result = UnregisterEntry(parent, path, entry);
        if (first == ERROR_SUCCESS)
            first = result;
    }
    return first;
}

LONG CRegistryScriptWriter::Note(LONG result, const std::string& path)
{
    if (result != ERROR_SUCCESS && m_failedAt.empty())
        m_failedAt = path;
    return result;
}

LONG CRegistryScriptWriter::RegisterEntry(HKEY parent, const std::string& parentPath, const Entry& entry)
{
    const std::string path = parentPath + "\\" + entry.name;
    switch (entry.kind)
    {
    case EntryKind::Value:
        return Note(SetValue(parent, entry.name.c_str(), entry.value), path);
    case EntryKind::Delete:
    {
        const LONG result = DeleteKeyTree(parent, entry.name);
        return Note(Ignorable(result) ? ERROR_SUCCESS : result, path);
    }
    case EntryKind::Key:
        break;
    }
    if (entry.mode == KeyMode::ForceRemove)
    {
        const LONG result = DeleteKeyTree(parent, entry.name);
        if (!Ignorable(result))
            return Note(result, path);
    }
    CScopedRegKey key;
    LONG result = key.Create(parent, entry.name.c_str(), kKeyAccess);
    if (result != ERROR_SUCCESS)
        return Note(result, path);
    if (entry.value.present)
    {
        result = SetValue(key.Get(), nullptr, entry.value);
        if (result != ERROR_SUCCESS)
            return Note(result, path);
    }
    return RegisterEntries(key.Get(), path, entry.children);
}

LONG CRegistryScriptWriter::UnregisterEntry(HKEY parent, const std::string& parentPath, const Entry& entry)
{
    const std::string path = parentPath + "\\" + entry.name;
    switch (entry.kind)
    {
    case EntryKind::Value:
    {
        const LONG result = RegDeleteValueA(parent, entry.name.c_str());
        return Note(Ignorable(result) ? ERROR_SUCCESS : result, path);
    }
    case EntryKind::Delete:
        return ERROR_SUCCESS;
    case EntryKind::Key:
        break;
    }
    if (entry.mode == KeyMode::ForceRemove)
    {
        const LONG result = DeleteKeyTree(parent, entry.name);
        return Note(Ignorable(result) ? ERROR_SUCCESS : result, path);
    }

    CScopedRegKey key;
    LONG result = key.Open(parent, entry.name.c_str(), kKeyAccess);
    if (result == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS)
        return Note(result, path);
    const LONG childResult = UnregisterEntries(key.Get(), path, entry.children);
    if (entry.mode == KeyMode::NoRemove)
        return childResult;

    bool holdsOnlyOwn = false;
    result = HoldsOnlyOwnEntries(key.Get(), entry, holdsOnlyOwn);
    key.Close();
    if (result != ERROR_SUCCESS)
        return Note(result, path);
    if (holdsOnlyOwn)
    {
        result = RegDeleteKeyA(parent, entry.name.c_str());
        if (!Ignorable(result))
            return Note(result, path);
    }
    return childResult;
}
