#include "RegistryScript.h"

#include <string>
#include <vector>

#include "RegistryScriptLexer.h"

namespace
{

using Entry = CRegistryScript::Entry;
using EntryKind = CRegistryScript::EntryKind;
using KeyMode = CRegistryScript::KeyMode;
using Root = CRegistryScript::Root;
using Value = CRegistryScript::Value;
using Token = CRegistryScriptLexer::Token;
using TokenKind = CRegistryScriptLexer::TokenKind;

bool SameWord(const std::string& word, const char* keyword)
{
    return lstrcmpiA(word.c_str(), keyword) == 0;
}

// Recursive descent over the tokens, one block at a time.
class CScriptParser
{
public:
    explicit CScriptParser(const std::vector<Token>& tokens) : m_tokens(tokens) {}

    bool Parse(std::vector<Root>& roots, std::string& error)
    {
        while (Peek().kind != TokenKind::End)
        {
            Root root;
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
    bool ParseBody(std::vector<Entry>& entries, int depth, std::string& error)
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
            Entry entry;
            if (!ParseEntry(entry, depth, error))
                return false;
            entries.push_back(std::move(entry));
        }
    }

    bool ParseEntry(Entry& entry, int depth, std::string& error)
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
            if (depth + 1 > CRegistryScript::kMaxDepth)
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
        if (token.kind == TokenKind::Word && (SameWord(token.text, "val") || SameWord(token.text, "Delete") ||
                                              SameWord(token.text, "NoRemove") || SameWord(token.text, "ForceRemove")))
        {
            return Fail(token, "keyword '" + token.text + "' where a key name belongs", error);
        }
        if (token.text.empty() || token.text.size() > CRegistryScript::kMaxKeyName)
            return Fail(token, "key name must have 1 to 255 characters", error);
        if (token.text.find('\\') != std::string::npos)
            return Fail(token, "backslash in key name '" + token.text + "'", error);
        name = token.text;
        return true;
    }

    bool ParseValue(Value& value, std::string& error)
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

} // namespace

std::string CRegistryScript::UpperCase(const std::string& name)
{
    std::string upper = name;
    for (char& c : upper)
    {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool CRegistryScript::Parse(const std::string& script, const std::map<std::string, std::string>& replacements,
                            std::string& error)
{
    m_roots.clear();
    std::vector<Token> tokens;
    CRegistryScriptLexer lexer(script, replacements);
    if (!lexer.Tokenize(tokens, error))
        return false;
    std::vector<Root> roots;
    CScriptParser parser(tokens);
    if (!parser.Parse(roots, error))
        return false;
    m_roots = std::move(roots);
    return true;
}
