#include "SymbolLibraryFixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

CTempDir* SymbolLibraryFixture::s_libraryDir = nullptr;
CDbgHelpLibrary* SymbolLibraryFixture::s_library = nullptr;

void SymbolLibraryFixture::SetUpTestSuite()
{
    s_libraryDir = new CTempDir();
    s_library = new CDbgHelpLibrary(s_libraryDir->Path());
}

void SymbolLibraryFixture::TearDownTestSuite()
{
    delete s_library;
    s_library = nullptr;
    delete s_libraryDir;
    s_libraryDir = nullptr;
}

void SymbolLibraryFixture::SetUp()
{
    ASSERT_TRUE(s_library->IsReady()) << "cannot load " << s_library->Path();
    m_work.reset(new CTempDir());
    StartSession();
}

void SymbolLibraryFixture::NewSession()
{
    ASSERT_TRUE(Lib().Cleanup(Process()));
    StartSession();
}

void SymbolLibraryFixture::StartSession()
{
    ASSERT_TRUE(Lib().Initialize(Process(), nullptr, FALSE));
    ASSERT_TRUE(Lib().RegisterCallback64(Process(), &OnNotify, reinterpret_cast<ULONG_PTR>(this)));
}

void SymbolLibraryFixture::TearDown()
{
    Lib().Cleanup(Process());
    DeleteFileA((s_library->Directory() + "\\symsrv.ini").c_str());
    m_work.reset();
}

BOOL CALLBACK SymbolLibraryFixture::OnNotify(HANDLE, ULONG action, ULONG64 data, ULONG64 context)
{
    if (action != CBA_DEBUG_INFO || data == 0 || context == 0)
        return FALSE;
    auto* self = reinterpret_cast<SymbolLibraryFixture*>(static_cast<ULONG_PTR>(context));
    self->m_lines.push_back(reinterpret_cast<const char*>(static_cast<ULONG_PTR>(data)));
    return TRUE;
}

std::string SymbolLibraryFixture::Samples()
{
    std::string path = "Z:" QX3_SAMPLES_UNIX;
    for (char& c : path)
    {
        if (c == '/')
            c = '\\';
    }
    return path;
}

std::string SymbolLibraryFixture::Image(const std::string& name)
{
    return Samples() + "\\images\\" + name;
}

std::string SymbolLibraryFixture::Manifest(const std::string& section, const std::string& key)
{
    char value[1024] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value, sizeof(value),
                             (Samples() + "\\manifest.ini").c_str());
    return value;
}

ULONG64 SymbolLibraryFixture::ManifestNumber(const std::string& section, const std::string& key)
{
    return strtoull(Manifest(section, key).c_str(), nullptr, 10);
}

std::string SymbolLibraryFixture::GuidText(const GUID& guid)
{
    char text[64];
    snprintf(text, sizeof(text), "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
             static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
             guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

IMAGEHLP_MODULE64 SymbolLibraryFixture::Load(const std::string& image, const std::string& searchPath, DWORD options,
                                             DWORD64* base, DWORD* error)
{
    IMAGEHLP_MODULE64 module = {};
    Lib().SetOptions(options);
    EXPECT_TRUE(Lib().SetSearchPath(Process(), searchPath.c_str()));
    const DWORD64 loaded = Lib().LoadModule64(Process(), nullptr, image.c_str(), nullptr, 0, 0);
    const DWORD loadError = GetLastError();
    if (base != nullptr)
        *base = loaded;
    if (error != nullptr)
        *error = loadError;
    if (loaded == 0)
        return module;
    module.SizeOfStruct = sizeof(module);
    EXPECT_TRUE(Lib().GetModuleInfo64(Process(), loaded, &module));
    EXPECT_TRUE(Lib().UnloadModule64(Process(), loaded));
    return module;
}

void SymbolLibraryFixture::WriteSymsrvIni(const std::string& text)
{
    ASSERT_TRUE(WriteFileBytes(s_library->Directory() + "\\symsrv.ini", text));
}

size_t SymbolLibraryFixture::CountLines(const std::string& fragment) const
{
    size_t count = 0;
    for (const std::string& line : m_lines)
        count += line.find(fragment) != std::string::npos ? 1 : 0;
    return count;
}

std::string SymbolLibraryFixture::AllLines() const
{
    std::string all;
    for (const std::string& line : m_lines)
        all += line;
    return all;
}

const std::vector<std::string>& SymbolLibraryFixture::SeparateSymbolImages()
{
    static const std::vector<std::string> images = {"rsds.exe", "nb10.dll", "dbgcv.dll", "dbgpdb.dll", "rsds64.exe"};
    return images;
}

const std::vector<SymbolLibraryFixture::DamagedPdb>& SymbolLibraryFixture::DamagedPdbs()
{
    static const std::vector<DamagedPdb> damaged = {{"blocks", "rsds.exe", "the header claims 2147483647 blocks"},
                                                    {"stream", "rsds.exe", "stream 3 claims 2147483632 bytes"},
                                                    {"blocks20", "nb10.dll", "the header claims 65535 blocks"}};
    return damaged;
}

DWORD SymbolLibraryFixture::SymTypeOf(const std::string& image)
{
    return strtoul(Manifest(image, "symtype").c_str(), nullptr, 10);
}

std::vector<std::string> SymbolLibraryFixture::StorePaths(const std::string& image)
{
    std::vector<std::string> paths;
    for (const char* key : {"store_dbg", "store_pdb"})
    {
        const std::string path = Manifest(image, key);
        if (!path.empty())
            paths.push_back(path);
    }
    return paths;
}

void SymbolLibraryFixture::ExpectDownstreamHoldsExactly(const std::string& image, bool remove) const
{
    std::vector<std::string> expected = StorePaths(image);
    for (const std::string& path : expected)
        EXPECT_EQ(ReadFileBytes(Samples() + "\\store\\" + path), ReadFileBytes(Downstream() + "\\" + path)) << path;
    std::vector<std::string> found = ListFiles(Downstream());
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(expected, found);
    for (const std::string& path : remove ? found : std::vector<std::string>())
        EXPECT_TRUE(DeleteFileA((Downstream() + "\\" + path).c_str()));
}
