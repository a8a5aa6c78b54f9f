#pragma once

#include <map>
#include <string>
#include <vector>

// Splits a registration script into tokens (braces, '=', bare words, quoted
// strings), replacing %NAME% placeholders on the way. CRegistryScript
// describes the rules.
class CRegistryScriptLexer
{
public:
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

    // replacements: keyed by the placeholder's name in upper case. Both
    // arguments must outlive the lexer.
    CRegistryScriptLexer(const std::string& script, const std::map<std::string, std::string>& replacements);

    // Every token of the script, an End token last. False with "line N: what"
    // in error for an unterminated quote or placeholder or an unknown name.
    bool Tokenize(std::vector<Token>& tokens, std::string& error);

private:
    bool AtEnd() const;
    bool ContinuesWord(size_t pos) const;
    void SkipBlanks();
    bool ReadWord(std::string& text, std::string& error);
    bool ReadQuoted(std::string& text, std::string& error);
    // One character of a word or quoted string, or at a '%' a placeholder.
    bool ReadCharacter(std::string& text, std::string& error);
    bool ReadPlaceholder(std::string& text, std::string& error);
    static std::string Where(int line);

    const std::string& m_script;
    const std::map<std::string, std::string>& m_replacements;
    size_t m_pos = 0;
    int m_line = 1;
};
