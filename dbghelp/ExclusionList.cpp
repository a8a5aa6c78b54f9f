#include "ExclusionList.h"

#include <windows.h>

#include "IniFile.h"
#include "Wildcard.h"

namespace
{
std::string Lower(std::string text)
{
    if (!text.empty())
        CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}
} // namespace

void CExclusionList::Load(const std::string& iniPath)
{
    CIniFile ini(iniPath.c_str());
    std::vector<std::string> keys;
    if (!ini.GetSectionKeys("Exclusions", keys))
        keys.clear();
    SetPatterns(keys);
}

void CExclusionList::SetPatterns(const std::vector<std::string>& patterns)
{
    m_patterns.clear();
    for (const std::string& pattern : patterns)
    {
        const std::string trimmed = Trim(pattern);
        if (!trimmed.empty() && trimmed[0] != ';')
            m_patterns.push_back(Lower(trimmed));
    }
}

bool CExclusionList::IsExcluded(const std::string& fileName) const
{
    const std::string name = Lower(fileName);
    for (const std::string& pattern : m_patterns)
    {
        if (WildcardMatch(pattern, name))
            return true;
    }
    return false;
}
