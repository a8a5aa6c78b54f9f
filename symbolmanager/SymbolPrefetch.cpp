#include "SymbolPrefetch.h"

#include <tuple>

#include "DllSearchPath.h"
#include "ImportClosure.h"
#include "LoadedImageHistory.h"
#include "MappedFile.h"
#include "PathSplit.h"
#include "PeImage.h"

namespace
{
// Images are mapped whole to read their headers; none is larger.
const uint64_t kMaxImageBytes = 0x10000000ull;

bool ReadImage(const std::string& path, CPeImage& image)
{
    CMappedFile file;
    return file.OpenByName(path, kMaxImageBytes) && image.Parse(file.Data(), file.Size());
}

// The file name part of a recorded path (PDB paths are recorded as built).
std::string LastPart(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether target's file is where the image's own request copies it: then
// that request finds it in place and asks no store. A file of another
// identity there is that request's to replace; fetching ahead is skipped.
bool InPlace(const CSymbolPrefetch::Destination& destination, const std::string& imagePath,
             const CSymbolPrefetch::Target& target)
{
    if (destination.path.empty())
        return false;
    std::string directory = destination.path;
    if (directory.back() != '\\' && directory.back() != '/')
        directory += '\\';
    if (destination.useFileExt)
    {
        const std::string ext = SplitPath(imagePath).ext;
        if (ext.size() > 1)
            directory += ext.substr(1) + "\\";
    }
    const DWORD attributes = GetFileAttributesA((directory + target.fileName).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
} // namespace

bool CSymbolPrefetch::Target::operator<(const Target& other) const
{
    return std::tie(fileName, byGuid, guid, value, two) <
           std::tie(other.fileName, other.byGuid, other.guid, other.value, other.two);
}

CSymbolPrefetch::CSymbolPrefetch(size_t maxParallel, Fetch fetch) : m_fetch(std::move(fetch)), m_queue(maxParallel)
{
}

CSymbolPrefetch::~CSymbolPrefetch()
{
    Stop();
}

bool CSymbolPrefetch::TargetOf(const CPeImage& image, Target& target)
{
    target = Target();
    const CCodeViewRecord& codeView = image.GetCodeView();
    if (codeView.RefersToPdb())
    {
        target.fileName = FoldCase(LastPart(codeView.GetPdbName()));
        target.byGuid = codeView.GetKind() == CCodeViewRecord::Rsds;
        target.guid = codeView.GetGuid();
        target.value = codeView.GetSignature();
        target.two = codeView.GetAge();
    }
    else if (image.IsDebugStripped() && !image.GetMiscDbgName().empty())
    {
        target.fileName = FoldCase(LastPart(image.GetMiscDbgName()));
        target.value = image.GetTimeDateStamp();
        target.two = image.GetSizeOfImage();
    }
    return !target.fileName.empty();
}

void CSymbolPrefetch::Start(const std::string& program, const std::string& symbolPath, const Destination& destination,
                            const std::string& historyFile)
{
    Stop();
    std::vector<std::string> remembered;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_program = program;
        m_historyFile = historyFile;
        CLoadedImageHistory history;
        if (!historyFile.empty() && history.Load(historyFile))
            remembered = history.ImagesOf(program);
    }
    m_queue.Post([this, program, symbolPath, destination, remembered](const CPrefetchQueue::Cancelled& cancelled)
                 { Plan(program, symbolPath, destination, remembered, cancelled); });
}

void CSymbolPrefetch::Plan(const std::string& program, const std::string& symbolPath, const Destination& destination,
                           const std::vector<std::string>& remembered, const CPrefetchQueue::Cancelled& cancelled)
{
    const CDllSearchPath search = CDllSearchPath::ForProgram(program);
    CImportClosure closure;
    closure.Walk(
        program, [&search](const std::string& name) { return search.Resolve(name); }, ReadImage, cancelled);
    std::set<Target> planned;
    const auto plan = [&](const std::string& path, const CPeImage& image)
    {
        Target target;
        if (!TargetOf(image, target) || InPlace(destination, path, target) || !planned.insert(target).second)
            return;
        m_queue.Post(
            [this, symbolPath, target](const CPrefetchQueue::Cancelled& dropped)
            {
                if (!dropped())
                    m_fetch(symbolPath, target);
            },
            cancelled);
    };
    for (const CImportClosure::Image& image : closure.GetImages())
        plan(image.path, image.pe);
    // What the last session loaded at run time; the walk found the rest.
    const bool pe32Plus = !closure.GetImages().empty() && closure.GetImages().front().pe.IsPe32Plus();
    for (const std::string& path : remembered)
    {
        CPeImage image;
        if (cancelled())
            return;
        if (ReadImage(path, image) && image.IsPe32Plus() == pe32Plus)
            plan(path, image);
    }
}

void CSymbolPrefetch::RecordLoaded(const std::string& image)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_program.empty() || image.empty() || m_loaded.size() >= kMaxRecorded ||
        !m_loadedFolded.insert(FoldCase(image)).second)
        return;
    m_loaded.push_back(image);
}

void CSymbolPrefetch::Stop()
{
    m_queue.Drop();
    Record();
}

void CSymbolPrefetch::Record()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_program.empty() && !m_historyFile.empty() && !m_loaded.empty())
    {
        CLoadedImageHistory history;
        history.Load(m_historyFile);
        history.Remember(m_program, m_loaded);
        history.Save(m_historyFile);
    }
    m_program.clear();
    m_historyFile.clear();
    m_loaded.clear();
    m_loadedFolded.clear();
}

void CSymbolPrefetch::WaitIdle()
{
    m_queue.WaitIdle();
}
