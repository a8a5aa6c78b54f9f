#include "ImportClosure.h"

#include <set>

#include "PathSplit.h"

namespace
{
bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}
} // namespace

bool CImportClosure::IsApiSetName(const std::string& name)
{
    const std::string folded = FoldCase(name);
    return StartsWith(folded, "api-ms-win-") || StartsWith(folded, "ext-ms-");
}

bool CImportClosure::Walk(const std::string& program, const Resolve& resolve, const Read& read,
                          const Cancelled& cancelled)
{
    m_images.clear();
    Image first;
    first.path = program;
    if (!read(program, first.pe))
        return false;
    const bool pe32Plus = first.pe.IsPe32Plus();
    std::set<std::string> namesSeen;
    std::set<std::string> pathsSeen = {FoldCase(program)};
    m_images.push_back(std::move(first));

    // m_images doubles as the queue: the walk reads each image's imports in turn.
    for (size_t next = 0; next < m_images.size(); ++next)
    {
        // Copied: m_images grows, and may move, below.
        const std::vector<std::string> imports = m_images[next].pe.GetImportNames();
        for (const std::string& name : imports)
        {
            if (cancelled())
                return false;
            if (m_images.size() >= kMaxImages || namesSeen.size() >= kMaxNames)
                return true;
            if (IsApiSetName(name) || !namesSeen.insert(FoldCase(name)).second)
                continue;
            const std::string path = resolve(name);
            if (path.empty() || !pathsSeen.insert(FoldCase(path)).second)
                continue;
            Image image;
            image.path = path;
            if (!read(path, image.pe) || image.pe.IsPe32Plus() != pe32Plus)
                continue;
            m_images.push_back(std::move(image));
        }
    }
    return true;
}
