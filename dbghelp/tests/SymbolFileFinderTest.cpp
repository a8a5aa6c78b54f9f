#include <cstdio>

#include "SymbolLibraryFixture.h"

// SymFindFileInPath: one symbol file, named and identified by the caller,
// fetched along a store chain into the downstream store.
class SymbolFileFinderTest : public SymbolLibraryFixture
{
protected:
    static GUID GuidOf(const std::string& image)
    {
        GUID guid = {};
        unsigned d[11] = {};
        const std::string text = Manifest(image, "pdb_guid");
        EXPECT_EQ(11, sscanf(text.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &d[0], &d[1], &d[2], &d[3],
                             &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]))
            << text;
        guid.Data1 = d[0];
        guid.Data2 = static_cast<unsigned short>(d[1]);
        guid.Data3 = static_cast<unsigned short>(d[2]);
        for (int i = 0; i < 8; ++i)
            guid.Data4[i] = static_cast<unsigned char>(d[3 + i]);
        return guid;
    }
    static DWORD Number(const std::string& image, const char* key)
    {
        return static_cast<DWORD>(ManifestNumber(image, key));
    }
    std::string InDownstream(const std::string& storePath) const { return Downstream() + "\\" + storePath; }

    char m_found[MAX_PATH] = {};
};

TEST_F(SymbolFileFinderTest, FetchesByGuidBySignatureAndByImageIdentity)
{
    Lib().SetOptions(kExact);
    GUID guid = GuidOf("rsds.exe");
    ASSERT_TRUE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "rsds.pdb", &guid, Number("rsds.exe", "pdb_age"),
                                     0, SSRVOPT_GUIDPTR, m_found, nullptr, nullptr));
    EXPECT_STRCASEEQ(InDownstream(Manifest("rsds.exe", "store_pdb")).c_str(), m_found);

    const DWORD signature = Number("nb10.dll", "pdb_sig");
    ASSERT_TRUE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "nb10.pdb",
                                     reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(signature)),
                                     Number("nb10.dll", "pdb_age"), 0, SSRVOPT_DWORD, m_found, nullptr, nullptr));
    EXPECT_STRCASEEQ(InDownstream(Manifest("nb10.dll", "store_pdb")).c_str(), m_found);

    DWORD stamp = Number("dbgcv.dll", "timestamp");
    ASSERT_TRUE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "dbgcv.dbg", &stamp,
                                     Number("dbgcv.dll", "size_of_image"), 0, SSRVOPT_DWORDPTR, m_found, nullptr,
                                     nullptr));
    EXPECT_STRCASEEQ(InDownstream(Manifest("dbgcv.dll", "store_dbg")).c_str(), m_found);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_found));
    // The session's callback hears nothing of these searches.
    EXPECT_TRUE(m_lines.empty()) << AllLines();
}

TEST_F(SymbolFileFinderTest, LeavesNothingDownstreamForAnotherIdentity)
{
    GUID guid = GuidOf("rsds.exe");
    SetLastError(0);
    EXPECT_FALSE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "rsds.pdb", &guid,
                                      Number("rsds.exe", "pdb_age") + 1, 0, SSRVOPT_GUIDPTR, m_found, nullptr,
                                      nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(InDownstream(Manifest("rsds.exe", "store_pdb")).c_str()));
}

namespace
{
BOOL CALLBACK RefuseEveryFile(PCSTR, PVOID context)
{
    ++*static_cast<int*>(context);
    return TRUE;
}
} // namespace

// The callback sees each matching file and, answering TRUE, has the search go on.
TEST_F(SymbolFileFinderTest, CallbackMayRefuseAMatch)
{
    GUID guid = GuidOf("rsds.exe");
    int calls = 0;
    EXPECT_FALSE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "rsds.pdb", &guid,
                                      Number("rsds.exe", "pdb_age"), 0, SSRVOPT_GUIDPTR, m_found, RefuseEveryFile, &calls));
    EXPECT_GE(calls, 1);
}

TEST_F(SymbolFileFinderTest, RefusesUnusableArguments)
{
    GUID guid = GuidOf("rsds.exe");
    const struct
    {
        const char* what;
        PCSTR name;
        PVOID id;
        DWORD flags;
    } cases[] = {
        {"a path for a name", "..\\rsds.pdb", &guid, SSRVOPT_GUIDPTR},
        {"no name", nullptr, &guid, SSRVOPT_GUIDPTR},
        {"a GUID without its pointer", "rsds.pdb", nullptr, SSRVOPT_GUIDPTR},
        {"a GUID for a DBG file", "dbgcv.dbg", &guid, SSRVOPT_GUIDPTR},
    };
    for (const auto& c : cases)
    {
        SetLastError(0);
        EXPECT_FALSE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), c.name, c.id, 1, 0, c.flags, m_found,
                                          nullptr, nullptr))
            << c.what;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << c.what;
    }
}
