#include "RegistryScriptLexer.h"

#include "RegistryScript.h"

namespace
{

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

} // namespace

CRegistryScriptLexer::CRegistryScriptLexer(const std::string& script,
                                           const std::map<std::string, std::string>& replacements)
    : m_script(script), m_replacements(replacements)
{
}

bool CRegistryScriptLexer::Tokenize(std::vector<Token>& tokens, std::string& error)
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

// A resource may carry a terminating null: the text ends there.
bool CRegistryScriptLexer::AtEnd() const
{
    return m_pos >= m_script.size() || m_script[m_pos] == '\0';
}

bool CRegistryScriptLexer::ContinuesWord(size_t pos) const
{
    if (pos >= m_script.size())
        return false;
    const char c = m_script[pos];
    return c != '\0' && !IsBlank(c) && c != '{' && c != '}' && c != '=' && c != '\'';
}

void CRegistryScriptLexer::SkipBlanks()
{
    while (!AtEnd() && IsBlank(m_script[m_pos]))
    {
        if (m_script[m_pos] == '\n')
            ++m_line;
        ++m_pos;
    }
}

bool CRegistryScriptLexer::ReadWord(std::string& text, std::string& error)
{
    while (!AtEnd())
    {
        const char c = m_script[m_pos];
        if (IsBlank(c) || c == '=' || c == '\'')
            break;
        if (!ReadCharacter(text, error))
            return false;
    }
    return true;
}

bool CRegistryScriptLexer::ReadQuoted(std::string& text, std::string& error)
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
        if (!ReadCharacter(text, error))
            return false;
    }
}

bool CRegistryScriptLexer::ReadCharacter(std::string& text, std::string& error)
{
    if (m_script[m_pos] == '%')
        return ReadPlaceholder(text, error);
    text += m_script[m_pos];
    ++m_pos;
    return true;
}

// At a '%': "%%" gives a percent sign, "%NAME%" the replacement's text.
bool CRegistryScriptLexer::ReadPlaceholder(std::string& text, std::string& error)
{
    size_t end = m_pos + 1;
    while (end < m_script.size() && m_script[end] != '%' && m_script[end] != '\0' && m_script[end] != '\'' &&
           !IsBlank(m_script[end]))
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
    const auto found = m_replacements.find(CRegistryScript::UpperCase(name));
    if (found == m_replacements.end())
    {
        error = Where(m_line) + "unknown placeholder %" + name + "%";
        return false;
    }
    text += found->second;
    return true;
}

std::string CRegistryScriptLexer::Where(int line)
{
    return "line " + std::to_string(line) + ": ";
}
