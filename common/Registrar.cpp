#include "Registrar.h"

#include <cstring>
#include <new>
#include <vector>

#include "ScopedRegKey.h"

namespace
{

// The registry's limit on one key name.
const size_t kMaxKeyName = 255;

std::string ToUpper(const std::string& text)
{
    std::string upper = text;
    for (char& c : upper)
    {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool SameWord(const std::string& word, const char* keyword)
{
    return lstrcmpiA(word.c_str(), keyword) == 0;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// ---- Script tree -----------------------------------------------------------

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

struct ScriptValue
{
    bool present = false;
    DWORD type = REG_SZ;
    std::string text;
    DWORD number = 0;
};

struct ScriptEntry
{
    EntryKind kind = EntryKind::Key;
    KeyMode mode = KeyMode::Plain;
    std::string name;
    ScriptValue value;
    std::vector<ScriptEntry> children;
};

struct ScriptRoot
{
    HKEY key = nullptr;
    std::string name;
    std::vector<ScriptEntry> children;
};

// ---- Tokens ----------------------------------------------------------------

enum class TokenKind
{
    End,
    OpenBrace,
    CloseBrace,
    Equals,
    Word,
    Quoted,
};

struct Token
{
    TokenKind kind = TokenKind::End;
    std::string text;
    int line = 1;
};

// Splits the script into tokens, replacing placeholders on the way.
class CScriptLexer
{
public:
    CScriptLexer(const std::string& script, const std::map<std::string, std::string>& replacements)
        : m_script(script), m_replacements(replacements)
    {
    }

    bool Tokenize(std::vector<Token>& tokens, std::string& error)
    {
        for (;;)
        {
            SkipBlanks();
            Token token;
            token.line = m_line;
            if (AtEnd())
            {
                tokens.push_back(token);
                return true;
            }
            const char c = m_script[m_pos];
            if (c == '=')
            {
                token.kind = TokenKind::Equals;
                ++m_pos;
            }
            else if (c == '\'')
            {
                token.kind = TokenKind::Quoted;
                if (!ReadQuoted(token.text, error))
                    return false;
            }
            else if ((c == '{' || c == '}') && !ContinuesWord(m_pos + 1))
            {
                token.kind = c == '{' ? TokenKind::OpenBrace : TokenKind::CloseBrace;
                ++m_pos;
            }
            else
            {
                token.kind = TokenKind::Word;
                if (!ReadWord(token.text, error))
                    return false;
            }
            tokens.push_back(std::move(token));
        }
    }

private:
    // A resource may carry a terminating null: the text ends there.
    bool AtEnd() const { return m_pos >= m_script.size() || m_script[m_pos] == '\0'; }

    bool ContinuesWord(size_t pos) const
    {
        if (pos >= m_script.size())
            return false;
        const char c = m_script[pos];
        return c != '\0' && !IsBlank(c) && c != '{' && c != '}' && c != '=' && c != '\'';
    }

    void SkipBlanks()
    {
        while (!AtEnd() && IsBlank(m_script[m_pos]))
        {
            if (m_script[m_pos] == '\n')
                ++m_line;
            ++m_pos;
        }
    }

    bool ReadWord(std::string& text, std::string& error)
    {
        while (!AtEnd())
        {
            const char c = m_script[m_pos];
            if (IsBlank(c) || c == '=' || c == '\'')
                break;
            if (c == '%')
            {
                if (!ReadPlaceholder(text, error))
                    return false;
                continue;
            }
            text += c;
            ++m_pos;
        }
        return true;
    }

    bool ReadQuoted(std::string& text, std::string& error)
    {
        const int startLine = m_line;
        ++m_pos;
        for (;;)
        {
            if (AtEnd() || m_script[m_pos] == '\n' || m_script[m_pos] == '\r')
            {
                error = Where(startLine) + "unterminated quoted string";
                return false;
            }
            const char c = m_script[m_pos];
            if (c == '\'')
            {
                if (m_pos + 1 < m_script.size() && m_script[m_pos + 1] == '\'')
                {
                    text += '\'';
                    m_pos += 2;
                    continue;
                }
                ++m_pos;
                return true;
            }
            if (c == '%')
            {
                if (!ReadPlaceholder(text, error))
                    return false;
                continue;
            }
            text += c;
            ++m_pos;
        }
    }

    // At a '%': "%%" gives a percent sign, "%NAME%" the replacement's text.
    bool ReadPlaceholder(std::string& text, std::string& error)
    {
        size_t end = m_pos + 1;
        while (end < m_script.size() && m_script[end] != '%' && m_script[end] != '\0' && m_script[end] != '\''
               && !IsBlank(m_script[end]))
        {
            ++end;
        }
        if (end >= m_script.size() || m_script[end] != '%')
        {
            error = Where(m_line) + "unterminated placeholder";
            return false;
        }
        const std::string name = m_script.substr(m_pos + 1, end - m_pos - 1);
        m_pos = end + 1;
        if (name.empty())
        {
            text += '%';
            return true;
        }
        const auto found = m_replacements.find(ToUpper(name));
        if (found == m_replacements.end())
        {
            error = Where(m_line) + "unknown placeholder %" + name + "%";
            return false;
        }
        text += found->second;
        return true;
    }

    static std::string Where(int line) { return "line " + std::to_string(line) + ": "; }

    const std::string& m_script;
    const std::map<std::string, std::string>& m_replacements;
    size_t m_pos = 0;
    int m_line = 1;
};

// ---- Parser ----------------------------------------------------------------

class CScriptParser
{
public:
    explicit CScriptParser(const std::vector<Token>& tokens) : m_tokens(tokens) {}

    bool Parse(std::vector<ScriptRoot>& roots, std::string& error)
    {
        while (Peek().kind != TokenKind::End)
        {
            ScriptRoot root;
            const Token& name = Take();
            if (name.kind != TokenKind::Word || !RootKey(name.text, root.key))
                return Fail(name, "unknown root key '" + name.text + "'", error);
            root.name = name.text;
            if (!Expect(TokenKind::OpenBrace, "'{' after the root key", error))
                return false;
            if (!ParseBody(root.children, 1, error))
                return false;
            roots.push_back(std::move(root));
        }
        return true;
    }

private:
    const Token& Peek() const { return m_tokens[m_next]; }

    // The End token is last and never consumed.
    const Token& Take()
    {
        const Token& token = m_tokens[m_next];
        if (token.kind != TokenKind::End)
            ++m_next;
        return token;
    }

    static bool Fail(const Token& at, const std::string& what, std::string& error)
    {
        error = "line " + std::to_string(at.line) + ": " + what;
        return false;
    }

    bool Expect(TokenKind kind, const char* what, std::string& error)
    {
        const Token& token = Take();
        if (token.kind != kind)
            return Fail(token, std::string("expected ") + what, error);
        return true;
    }

    static bool RootKey(const std::string& name, HKEY& key)
    {
        if (SameWord(name, "HKCR") || SameWord(name, "HKEY_CLASSES_ROOT"))
            key = HKEY_CLASSES_ROOT;
        else if (SameWord(name, "HKCU") || SameWord(name, "HKEY_CURRENT_USER"))
            key = HKEY_CURRENT_USER;
        else if (SameWord(name, "HKLM") || SameWord(name, "HKEY_LOCAL_MACHINE"))
            key = HKEY_LOCAL_MACHINE;
        else if (SameWord(name, "HKU") || SameWord(name, "HKEY_USERS"))
            key = HKEY_USERS;
        else
            return false;
        return true;
    }

    static bool IsKeyword(const Token& token, const char* keyword)
    {
        return token.kind == TokenKind::Word && SameWord(token.text, keyword);
    }

    // Entries up to and including the closing brace of the block at 'depth'.
    bool ParseBody(std::vector<ScriptEntry>& entries, int depth, std::string& error)
    {
        for (;;)
        {
            const Token& token = Peek();
            if (token.kind == TokenKind::CloseBrace)
            {
                Take();
                return true;
            }
            if (token.kind == TokenKind::End)
                return Fail(token, "missing '}'", error);
            ScriptEntry entry;
            if (!ParseEntry(entry, depth, error))
                return false;
            entries.push_back(std::move(entry));
        }
    }

    bool ParseEntry(ScriptEntry& entry, int depth, std::string& error)
    {
        const Token& first = Peek();
        if (IsKeyword(first, "val"))
        {
            Take();
            entry.kind = EntryKind::Value;
            const Token& name = Take();
            if (name.kind != TokenKind::Word && name.kind != TokenKind::Quoted)
                return Fail(name, "expected a value name after 'val'", error);
            if (name.text.empty())
                return Fail(name, "empty value name", error);
            entry.name = name.text;
            if (!Expect(TokenKind::Equals, "'=' after the value name", error))
                return false;
            return ParseValue(entry.value, error);
        }
        if (IsKeyword(first, "Delete"))
        {
            Take();
            entry.kind = EntryKind::Delete;
            return ParseKeyName(entry.name, error);
        }
        if (IsKeyword(first, "NoRemove"))
        {
            Take();
            entry.mode = KeyMode::NoRemove;
        }
        else if (IsKeyword(first, "ForceRemove"))
        {
            Take();
            entry.mode = KeyMode::ForceRemove;
        }
        entry.kind = EntryKind::Key;
        if (!ParseKeyName(entry.name, error))
            return false;
        if (Peek().kind == TokenKind::Equals)
        {
            Take();
            if (!ParseValue(entry.value, error))
                return false;
        }
        if (Peek().kind == TokenKind::OpenBrace)
        {
            const Token& brace = Take();
            if (depth + 1 > CRegistrar::kMaxDepth)
                return Fail(brace, "blocks nested too deeply", error);
            return ParseBody(entry.children, depth + 1, error);
        }
        return true;
    }

    bool ParseKeyName(std::string& name, std::string& error)
    {
        const Token& token = Take();
        if (token.kind != TokenKind::Word && token.kind != TokenKind::Quoted)
            return Fail(token, "expected a key name", error);
        if (token.kind == TokenKind::Word
            && (SameWord(token.text, "val") || SameWord(token.text, "Delete") || SameWord(token.text, "NoRemove")
                || SameWord(token.text, "ForceRemove")))
        {
            return Fail(token, "keyword '" + token.text + "' where a key name belongs", error);
        }
        if (token.text.empty() || token.text.size() > kMaxKeyName)
            return Fail(token, "key name must have 1 to 255 characters", error);
        if (token.text.find('\\') != std::string::npos)
            return Fail(token, "backslash in key name '" + token.text + "'", error);
        name = token.text;
        return true;
    }

    bool ParseValue(ScriptValue& value, std::string& error)
    {
        const Token& type = Take();
        if (type.kind != TokenKind::Word)
            return Fail(type, "expected a value type (s or d)", error);
        const Token& data = Take();
        if (data.kind != TokenKind::Word && data.kind != TokenKind::Quoted)
            return Fail(data, "expected the value's data", error);
        value.present = true;
        if (SameWord(type.text, "s"))
        {
            value.type = REG_SZ;
            value.text = data.text;
            return true;
        }
        if (SameWord(type.text, "d"))
        {
            value.type = REG_DWORD;
            if (!ParseNumber(data.text, value.number))
                return Fail(data, "bad DWORD '" + data.text + "'", error);
            return true;
        }
        return Fail(type, "unknown value type '" + type.text + "'", error);
    }

    // Decimal, or hexadecimal after 0x; the whole text, within 32 bits.
    static bool ParseNumber(const std::string& text, DWORD& number)
    {
        unsigned base = 10;
        size_t pos = 0;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        {
            base = 16;
            pos = 2;
        }
        if (pos >= text.size())
            return false;
        unsigned long long result = 0;
        for (; pos < text.size(); ++pos)
        {
            const char c = text[pos];
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (base == 16 && c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (base == 16 && c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
            result = result * base + digit;
            if (result > 0xFFFFFFFFull)
                return false;
        }
        number = static_cast<DWORD>(result);
        return true;
    }

    const std::vector<Token>& m_tokens;
    size_t m_next = 0;
};

// ---- Applying the tree -----------------------------------------------------

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
        char buffer[kMaxKeyName + 1];
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

LONG SetValue(HKEY key, const char* name, const ScriptValue& value)
{
    if (value.type == REG_DWORD)
    {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                              sizeof(value.number));
    }
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()),
                          static_cast<DWORD>(value.text.size() + 1));
}

// Walks the tree in one mode, remembering where the first failure happened.
class CScriptWriter
{
public:
    LONG Register(HKEY parent, const std::string& path, const std::vector<ScriptEntry>& entries)
    {
        for (const ScriptEntry& entry : entries)
        {
            const LONG result = RegisterEntry(parent, path, entry);
            if (result != ERROR_SUCCESS)
                return result;
        }
        return ERROR_SUCCESS;
    }

    LONG Unregister(HKEY parent, const std::string& path, const std::vector<ScriptEntry>& entries)
    {
        LONG first = ERROR_SUCCESS;
        for (const ScriptEntry& entry : entries)
        {
            const LONG result = UnregisterEntry(parent, path, entry);
            if (first == ERROR_SUCCESS)
                first = result;
        }
        return first;
    }

    const std::string& FailedAt() const { return m_failedAt; }

private:
    LONG Note(LONG result, const std::string& path)
    {
        if (result != ERROR_SUCCESS && m_failedAt.empty())
            m_failedAt = path;
        return result;
    }

    LONG RegisterEntry(HKEY parent, const std::string& parentPath, const ScriptEntry& entry)
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
        return Register(key.Get(), path, entry.children);
    }

    LONG UnregisterEntry(HKEY parent, const std::string& parentPath, const ScriptEntry& entry)
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
        const LONG childResult = Unregister(key.Get(), path, entry.children);
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

    // True when the key has no sub-keys and no values other than the default
    // value that the entry itself sets.
    static LONG HoldsOnlyOwnEntries(HKEY key, const ScriptEntry& entry, bool& holdsOnlyOwn)
    {
        DWORD subKeys = 0;
        DWORD values = 0;
        const LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                             nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            return result;
        if (subKeys != 0 || values > 1)
            holdsOnlyOwn = false;
        else if (values == 0)
            holdsOnlyOwn = true;
        else
            holdsOnlyOwn = entry.value.present
                           && RegQueryValueExA(key, "", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        return ERROR_SUCCESS;
    }

    std::string m_failedAt;
};

// Resource bytes as script text: UTF-16 with its byte-order mark becomes ANSI.
bool ResourceText(const BYTE* data, DWORD size, std::string& text)
{
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE)
    {
        std::wstring wide;
        for (DWORD pos = 2; pos + 1 < size; pos += 2)
        {
            const wchar_t c = static_cast<wchar_t>(data[pos] | (data[pos + 1] << 8));
            if (c == L'\0')
                break;
            wide += c;
        }
        if (wide.empty())
            return true;
        const int length =
            WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
        if (length <= 0)
            return false;
        text.assign(static_cast<size_t>(length), '\0');
        return WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length, nullptr,
                                   nullptr)
               == length;
    }
    DWORD pos = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        pos = 3;
    const BYTE* begin = data + pos;
    const void* nul = std::memchr(begin, 0, size - pos);
    const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const BYTE*>(nul) - begin) : size - pos;
    text.assign(reinterpret_cast<const char*>(begin), length);
    return true;
}

} // namespace

void CRegistrar::AddReplacement(const std::string& name, const std::string& value)
{
    try
    {
        m_replacements[ToUpper(name)] = value;
    }
    catch (const std::bad_alloc&)
    {
        m_replacementLost = true;
    }
}

HRESULT CRegistrar::Apply(const std::string& script, bool doRegister)
{
    try
    {
        m_errorText.clear();
        return ApplyText(script, doRegister);
    }
    catch (const std::bad_alloc&)
    {
        m_errorText.clear();
        return E_OUTOFMEMORY;
    }
}

HRESULT CRegistrar::ApplyResource(HMODULE module, UINT resourceId, bool doRegister)
{
    try
    {
        m_errorText.clear();
        HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(resourceId), "REGISTRY");
        HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (data == nullptr)
        {
            const DWORD error = GetLastError();
            m_errorText = "REGISTRY resource " + std::to_string(resourceId) + " not loaded";
            return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
        }
        std::string script;
        if (!ResourceText(static_cast<const BYTE*>(data), SizeofResource(module, resource), script))
        {
            m_errorText = "REGISTRY resource " + std::to_string(resourceId) + " is not convertible text";
            return DISP_E_EXCEPTION;
        }
        return ApplyText(script, doRegister);
    }
    catch (const std::bad_alloc&)
    {
        m_errorText.clear();
        return E_OUTOFMEMORY;
    }
}

HRESULT CRegistrar::ApplyText(const std::string& script, bool doRegister)
{
    if (m_replacementLost)
        return E_OUTOFMEMORY;

    std::vector<Token> tokens;
    CScriptLexer lexer(script, m_replacements);
    if (!lexer.Tokenize(tokens, m_errorText))
        return DISP_E_EXCEPTION;
    std::vector<ScriptRoot> roots;
    CScriptParser parser(tokens);
    if (!parser.Parse(roots, m_errorText))
        return DISP_E_EXCEPTION;

    CScriptWriter writer;
    LONG first = ERROR_SUCCESS;
    for (const ScriptRoot& root : roots)
    {
        const LONG result = doRegister ? writer.Register(root.key, root.name, root.children)
                                       : writer.Unregister(root.key, root.name, root.children);
        if (first == ERROR_SUCCESS)
            first = result;
        if (result != ERROR_SUCCESS && doRegister)
            break;
    }
    if (first == ERROR_SUCCESS)
        return S_OK;
    m_errorText = "registry error " + std::to_string(first) + " at " + writer.FailedAt();
    return HRESULT_FROM_WIN32(first);
}
