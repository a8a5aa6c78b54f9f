#include "LoadedImageHistory.h"

#include <windows.h>

#include "PathSplit.h"
#include "ScopedHandle.h"
#include "TempFile.h"

namespace
{
const char kHeader[] = "QX3LOADED 1";

bool ReadWhole(const std::string& file, std::string& text)
{
    CScopedHandle handle(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.IsValid())
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle.Get(), &size) || size.QuadPart <= 0 ||
        size.QuadPart > static_cast<LONGLONG>(CLoadedImageHistory::kMaxFileBytes))
        return false;
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return ReadFile(handle.Get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) && read == text.size();
}

bool IsUsableLine(const std::string& line)
{
    if (line.empty() || line.size() > CLoadedImageHistory::kMaxLineLength)
        return false;
    for (char c : line)
    {
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}
} // namespace

bool CLoadedImageHistory::Load(const std::string& file)
{
    m_programs.clear();
    std::string text;
    if (!ReadWhole(file, text))
        return false;
    std::vector<Program> programs;
    size_t start = 0;
    bool first = true;
    while (start < text.size())
    {
        const size_t end = text.find('\n', start);
        // Every line, the last included, ends in a line feed: a cut file is damaged.
        if (end == std::string::npos)
            return false;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first)
        {
            if (line != kHeader)
                return false;
            first = false;
            continue;
        }
        if (line.size() < 3 || line[1] != ' ' || !IsUsableLine(line.substr(2)))
            return false;
        const std::string value = line.substr(2);
        if (line[0] == 'P' && programs.size() < kMaxPrograms)
            programs.push_back(Program{value, {}});
        else if (line[0] == 'I' && !programs.empty() && programs.back().images.size() < kMaxImagesPerProgram)
            programs.back().images.push_back(value);
        else
            return false;
    }
    if (first)
        return false;
    m_programs = std::move(programs);
    return true;
}

bool CLoadedImageHistory::Save(const std::string& file) const
{
    std::string text = std::string(kHeader) + "\r\n";
    for (const Program& program : m_programs)
    {
        text += "P " + program.path + "\r\n";
        for (const std::string& image : program.images)
            text += "I " + image + "\r\n";
    }
    CTempFile temp;
    return temp.Create(file) && temp.Write(text.data(), text.size()) && temp.Commit();
}

std::vector<std::string> CLoadedImageHistory::ImagesOf(const std::string& program) const
{
    for (const Program& entry : m_programs)
    {
        if (EqualNoCase(entry.path, program))
            return entry.images;
    }
    return {};
}

void CLoadedImageHistory::Remember(const std::string& program, const std::vector<std::string>& images)
{
    if (!IsUsableLine(program))
        return;
    for (auto it = m_programs.begin(); it != m_programs.end(); ++it)
    {
        if (EqualNoCase(it->path, program))
        {
            m_programs.erase(it);
            break;
        }
    }
    Program entry{program, {}};
    for (const std::string& image : images)
    {
        if (entry.images.size() < kMaxImagesPerProgram && IsUsableLine(image))
            entry.images.push_back(image);
    }
    m_programs.insert(m_programs.begin(), std::move(entry));
    if (m_programs.size() > kMaxPrograms)
        m_programs.resize(kMaxPrograms);
}
