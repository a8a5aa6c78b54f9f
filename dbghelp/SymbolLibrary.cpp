#include "SymbolLibrary.h"

#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "FilePath.h"
#include "HttpClient.h"
#include "HttpSettings.h"
#include "IniFile.h"
#include "MappedFile.h"
#include "ModuleLoader.h"
#include "ModulePath.h"
#include "SingleFlight.h"
#include "SymbolPath.h"

namespace
{
// Images are mapped whole; an image is limited to far less than this.
const uint64_t kMaxImageSize = 0x10000000ull;

// The documented sizes of IMAGEHLP_MODULE64: the first version (up to
// LoadedImageName), the one that added the PDB fields (up to TypeInfo), the
// one with SourceIndexed and Publics, and the one with MachineType.
const DWORD kModuleInfoSizes[] = {584, 1664, 1672, sizeof(IMAGEHLP_MODULE64)};
// The record holds no pointers: the same sizes in the 32-bit and the 64-bit build.
static_assert(offsetof(IMAGEHLP_MODULE64, TypeInfo) + sizeof(BOOL) == 1664 &&
                  offsetof(IMAGEHLP_MODULE64, Publics) + sizeof(BOOL) == 1672 &&
                  offsetof(IMAGEHLP_MODULE64, MachineType) == 1672,
              "IMAGEHLP_MODULE64 versions as documented");

// The platform's default option mask after loading: undecorated names.
const DWORD kDefaultOptions = SYMOPT_UNDNAME;

// symsrv.ini's defaults: the network wait, how long a server that did not
// answer is skipped, and how long a store's "not found" is believed.
const DWORD kDefaultMissSeconds = 600;

// What tells one version of symsrv.ini from another: whether it exists, when
// it was last written and its size.
struct FileStamp
{
    bool exists = false;
    FILETIME written = {};
    ULONGLONG size = 0;

    static FileStamp Of(const std::string& path)
    {
        FileStamp stamp;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        {
            stamp.exists = true;
            stamp.written = data.ftLastWriteTime;
            stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        return stamp;
    }
    bool operator==(const FileStamp& other) const
    {
        return exists == other.exists && size == other.size && CompareFileTime(&written, &other.written) == 0;
    }
};

std::string EnvironmentValue(const char* name)
{
    char buffer[4096];
    const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer))
        return std::string();
    return std::string(buffer, length);
}
} // namespace

struct CSymbolLibrary::Session
{
    explicit Session(HANDLE owner) : process(owner) {}

    const HANDLE process;
    // Guarded by the library's lock.
    std::string searchPath;
    CExclusionList exclusions;
    std::map<DWORD64, IMAGEHLP_MODULE64> modules;
    uint64_t maxFileBytes = CModuleLoader::kMaxSymbolFileBytes;
    DWORD missSeconds = kDefaultMissSeconds;
    FileStamp settingsRead;
    // Safe to share without the lock.
    CHttpClient http;
    CSingleFlight flights;
    // Guarded by callbackLock, which is never taken with the library's lock
    // held: the callback may call back in.
    CCriticalSection callbackLock;
    PSYMBOL_REGISTERED_CALLBACK64 callback = nullptr;
    ULONG64 userContext = 0;
    bool ended = false;
};

struct CSymbolLibrary::Use
{
    std::shared_ptr<Session> session;
    std::string searchPath;
    // A copy: a refresh by another thread replaces the session's list.
    CExclusionList exclusions;
    DWORD options = 0;
    uint64_t maxFileBytes = 0;
    DWORD missSeconds = 0;
};

CSymbolLibrary& CSymbolLibrary::Instance()
{
    static CSymbolLibrary instance;
    return instance;
}

CSymbolLibrary::CSymbolLibrary() : m_options(kDefaultOptions), m_module(nullptr)
{
}

CSymbolLibrary::~CSymbolLibrary() = default;

void CSymbolLibrary::SetModule(HMODULE module)
{
    m_module = module;
}

std::string CSymbolLibrary::BesideLibrary(const char* name) const
{
    std::string dir;
    if (!GetModulePathPart(dir, MODULE_PATH_DRIVE | MODULE_PATH_DIR, m_module))
        return name;
    return dir + name;
}

std::string CSymbolLibrary::DefaultSearchPath() const
{
    // As the platform: the current directory, then the environment's symbol paths.
    std::string path = ".";
    for (const char* name : {"_NT_SYMBOL_PATH", "_NT_ALT_SYMBOL_PATH"})
    {
        const std::string value = EnvironmentValue(name);
        if (!value.empty())
            path += ";" + value;
    }
    return path;
}

std::shared_ptr<CSymbolLibrary::Session> CSymbolLibrary::FindSession(HANDLE process)
{
    const auto found = m_sessions.find(process);
    return found == m_sessions.end() ? nullptr : found->second;
}

bool CSymbolLibrary::BeginUse(HANDLE process, PCSTR searchPath, Use& use)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    use.session = FindSession(process);
    if (!use.session)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    Session& session = *use.session;
    RefreshSettings(session);
    use.searchPath = searchPath != nullptr ? std::string(searchPath) : session.searchPath;
    use.exclusions = session.exclusions;
    use.options = m_options;
    use.maxFileBytes = session.maxFileBytes;
    use.missSeconds = session.missSeconds;
    return true;
}

void CSymbolLibrary::Notify(const Use& use, const std::string& line)
{
    if ((use.options & SYMOPT_DEBUG) == 0)
        return;
    Session& session = *use.session;
    std::lock_guard<CCriticalSection> hold(session.callbackLock);
    if (session.ended || session.callback == nullptr)
        return;
    session.callback(session.process, CBA_DEBUG_INFO, static_cast<ULONG64>(reinterpret_cast<ULONG_PTR>(line.c_str())),
                     session.userContext);
}

CSymbolSearch::Settings CSymbolLibrary::SearchSettings(const Use& use, const CSymbolPath& path)
{
    CSymbolSearch::Settings settings;
    settings.path = &path;
    settings.exclusions = &use.exclusions;
    settings.http = &use.session->http;
    settings.flights = &use.session->flights;
    settings.defaultStore = BesideLibrary("sym");
    settings.maxFileBytes = use.maxFileBytes;
    settings.missSeconds = use.missSeconds;
    settings.diagnostic = [this, &use](const std::string& line) { Notify(use, line); };
    return settings;
}

BOOL CSymbolLibrary::Initialize(HANDLE process, PCSTR searchPath, BOOL)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    std::shared_ptr<Session> session = FindSession(process);
    if (!session)
    {
        session = std::make_shared<Session>(process);
        m_sessions[process] = session;
    }
    session->searchPath = searchPath != nullptr ? searchPath : DefaultSearchPath();
    ReadSettings(*session);
    // A new session asks every server again; a changed symsrv.ini alone does
    // not bring back a server that has just failed.
    session->http.ResetOffline();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

void CSymbolLibrary::ReadSettings(Session& session)
{
    // Exclusions and the download settings. The stamp is taken first: a
    // change made while the file is read is then seen at the next load.
    const std::string ini = BesideLibrary("symsrv.ini");
    session.settingsRead = FileStamp::Of(ini);
    session.exclusions.Load(ini);
    CIniFile settings(ini.c_str());
    HttpOptions http = CHttpSettings::Read(ini);
    const int misses = settings.GetInt("Http", "MissSeconds", static_cast<int>(kDefaultMissSeconds));
    // The bound of every file taken from a store; no larger one could be opened anyway.
    const int maxFileBytes =
        settings.GetInt("Store", "MaxFileBytes", static_cast<int>(CModuleLoader::kMaxSymbolFileBytes));
    session.missSeconds = misses >= 0 ? static_cast<DWORD>(misses) : kDefaultMissSeconds;
    session.maxFileBytes = maxFileBytes > 0 && static_cast<uint64_t>(maxFileBytes) < CModuleLoader::kMaxSymbolFileBytes
                               ? static_cast<uint64_t>(maxFileBytes)
                               : CModuleLoader::kMaxSymbolFileBytes;
    http.maxBytes = session.maxFileBytes;
    session.http.SetOptions(http);
}

void CSymbolLibrary::RefreshSettings(Session& session)
{
    if (!(FileStamp::Of(BesideLibrary("symsrv.ini")) == session.settingsRead))
        ReadSettings(session);
}

BOOL CSymbolLibrary::Cleanup(HANDLE process)
{
    // Loads and searches still running keep the session until they return;
    // the session's callback hears nothing more of them.
    std::shared_ptr<Session> ended;
    {
        std::lock_guard<CCriticalSection> lock(m_lock);
        const auto found = m_sessions.find(process);
        if (found == m_sessions.end())
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        ended = found->second;
        m_sessions.erase(found);
    }
    {
        std::lock_guard<CCriticalSection> hold(ended->callbackLock);
        ended->ended = true;
    }
    // Freed here when no call uses it, before the last error is set: closing
    // its kept connections may change that.
    ended.reset();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD CSymbolLibrary::GetOptions()
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    return m_options;
}

DWORD CSymbolLibrary::SetOptions(DWORD options)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    m_options = options;
    return m_options;
}

BOOL CSymbolLibrary::RegisterCallback(HANDLE process, PSYMBOL_REGISTERED_CALLBACK64 callback, ULONG64 userContext)
{
    std::shared_ptr<Session> session;
    {
        std::lock_guard<CCriticalSection> lock(m_lock);
        session = FindSession(process);
    }
    if (!session)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<CCriticalSection> hold(session->callbackLock);
    session->callback = callback;
    session->userContext = userContext;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CSymbolLibrary::SetSearchPath(HANDLE process, PCSTR searchPath)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    const std::shared_ptr<Session> session = FindSession(process);
    if (!session)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    session->searchPath = searchPath != nullptr ? searchPath : DefaultSearchPath();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD64 CSymbolLibrary::LoadModule(HANDLE process, HANDLE file, PCSTR imageName, PCSTR moduleName, DWORD64 base,
                                   DWORD size)
{
    Use use;
    if (!BeginUse(process, nullptr, use))
        return 0;
    const bool hasFile = file != nullptr && file != INVALID_HANDLE_VALUE;
    const std::string name = imageName != nullptr ? imageName : "";
    if (!hasFile && name.empty())
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }

    // Through a mapping of the caller's handle: its file pointer stays where it is.
    CMappedFile image;
    bool opened = hasFile && image.OpenByHandle(file, kMaxImageSize);
    if (!opened && !name.empty())
        opened = image.OpenByName(name, kMaxImageSize);
    if (!opened)
    {
        const DWORD error = image.GetError();
        SetLastError(error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND || error == 0 ? ERROR_FILE_NOT_FOUND
                                                                                                  : error);
        return 0;
    }

    CSymbolPath path(use.searchPath);
    CModuleLoader loader(SearchSettings(use, path));
    if (!loader.ParseImage(image.Data(), image.Size()))
    {
        Notify(use, "DBGHELP: " + (name.empty() ? std::string("image") : name) + " - not a PE image\n");
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (base == 0)
        base = loader.GetImage().GetImageBase();
    bool loaded = false;
    {
        std::lock_guard<CCriticalSection> lock(m_lock);
        loaded = use.session->modules.count(base) != 0;
    }
    if (loaded)
    {
        // As the platform: a module already at this base is no error, but no new load.
        SetLastError(ERROR_SUCCESS);
        return 0;
    }

    std::string module = moduleName != nullptr ? moduleName : "";
    if (module.empty())
        module = CFilePath::BaseName(name);
    if (module.empty())
    {
        char generated[32];
        snprintf(generated, sizeof(generated), "image%08" PRIx64, static_cast<uint64_t>(base));
        module = generated;
    }
    // Without a name of the image, the record's ImageName is the module name given, if any.
    const std::string recordName = !name.empty() ? name : (moduleName != nullptr ? moduleName : "");

    IMAGEHLP_MODULE64 record;
    loader.Resolve(recordName, module, base, size, use.options, record);
    image.Close();

    std::lock_guard<CCriticalSection> lock(m_lock);
    if (FindSession(process) != use.session)
    {
        // Ended while the symbols were searched for.
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!use.session->modules.emplace(base, record).second)
    {
        // Another thread loaded a module at this base meanwhile.
        SetLastError(ERROR_SUCCESS);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return base;
}

BOOL CSymbolLibrary::GetModuleInfo(HANDLE process, DWORD64 address, PIMAGEHLP_MODULE64 info)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    const std::shared_ptr<Session> session = FindSession(process);
    if (!session)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (info == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD requested = info->SizeOfStruct;
    bool known = false;
    for (DWORD size : kModuleInfoSizes)
        known = known || size == requested;
    if (!known)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const auto& entry : session->modules)
    {
        const IMAGEHLP_MODULE64& record = entry.second;
        if (address >= record.BaseOfImage && address - record.BaseOfImage < record.ImageSize)
        {
            memcpy(info, &record, requested);
            info->SizeOfStruct = requested;
            SetLastError(ERROR_SUCCESS);
            return TRUE;
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}

BOOL CSymbolLibrary::UnloadModule(HANDLE process, DWORD64 base)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    const std::shared_ptr<Session> session = FindSession(process);
    if (!session)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto found = session->modules.find(base);
    if (found == session->modules.end())
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    session->modules.erase(found);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CSymbolLibrary::FindFileInPath(HANDLE process, PCSTR searchPath, const CSymbolSearch::Request& request,
                                    std::string& found)
{
    found.clear();
    Use use;
    if (!BeginUse(process, searchPath, use))
        return FALSE;
    CSymbolPath path(use.searchPath);
    CSymbolSearch::Settings settings = SearchSettings(use, path);
    // Reported to no one: a search for a file alone may run beside a load in
    // the same session, and the session's callback sees the load's lines only.
    settings.diagnostic = nullptr;
    CSymbolSearch search(settings);
    found = search.Find(request).matched;
    SetLastError(found.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
    return found.empty() ? FALSE : TRUE;
}
