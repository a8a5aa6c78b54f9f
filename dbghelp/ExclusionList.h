#pragma once

#include <string>
#include <vector>

// The symbol server's exclusion list: file name patterns (wildcards '*' and
// '?', compared without regard to case) of symbol files that no store is
// asked for. Plain directories are still searched for them.
class CExclusionList
{
public:
    // Replaces the list by the entries of section "Exclusions" of the given
    // INI file: bare lines, or the keys of key=value lines. A missing file or
    // section gives an empty list.
    void Load(const std::string& iniPath);
    void SetPatterns(const std::vector<std::string>& patterns);

    bool IsExcluded(const std::string& fileName) const;

private:
    std::vector<std::string> m_patterns;
};
