#include "HttpStoreFixture.h"

#include "CabinetBuilder.h"

// The other forms of a store's entries (compressed, file.ptr) and damaged
// symbol files, each from a local store and from the same store downloaded
// from the samples server (whose forms storecases.py writes).
class StoreFormsTest : public HttpStoreFixture
{
protected:
    // A store of the work directory holding one entry file under nb10.pdb's key.
    std::string StoreWith(const std::string& leaf, const std::string& bytes)
    {
        const std::string store = m_work->File("upstream");
        const std::string directory = store + "\\nb10.pdb\\" + Manifest("nb10.dll", "pdb_key");
        EXPECT_TRUE(Lib().MakeSureDirectoryPathExists((directory + "\\").c_str()));
        EXPECT_TRUE(WriteFileBytes(directory + "\\" + leaf, bytes));
        return store;
    }

    IMAGEHLP_MODULE64 LoadNb10Through(const std::string& store)
    {
        return Load(Image("nb10.dll"), Chain(store), kExact);
    }
};

TEST_F(StoreFormsTest, ExpandsCompressedEntryOfEachSymbolKindIntoDownstream)
{
    for (const std::string& store : LocalAndHttp("compressed/store"))
    {
        for (const std::string& image : SeparateSymbolImages())
        {
            SCOPED_TRACE(store + " " + image);
            const IMAGEHLP_MODULE64 module = Load(Image(image), Chain(store), kExact);
            EXPECT_EQ(SymTypeOf(image), module.SymType);
            const std::string storePdb = Manifest(image, "store_pdb");
            if (!storePdb.empty())
            {
                EXPECT_STREQ((Downstream() + "\\" + storePdb).c_str(), module.LoadedPdbName);
            }
            EXPECT_TRUE(HasLine(" expanded to "));
            ExpectDownstreamHoldsExactly(image, true);
            m_lines.clear();
        }
    }
}

TEST_F(StoreFormsTest, RefusesDamagedCabinetsAndKeepsNothing)
{
    const struct
    {
        const char* name;
        const char* reason;
    } cases[] = {{"corrupt", "data block 0 fails its checksum"},
                 {"truncated", "but the file has"},
                 {"othername", "the cabinet holds other.pdb, not nb10.pdb"},
                 {"undecodable", "its compressed data does not expand"},
                 {"wrongsize", "but its data blocks expand to"},
                 {"overflow", "MSZIP data block 0 expands to more than 32768 bytes"}};
    for (const auto& c : cases)
    {
        for (const std::string& store : LocalAndHttp(std::string("cabinet/") + c.name + "/store"))
        {
            SCOPED_TRACE(store);
            EXPECT_EQ(SymNone, LoadNb10Through(store).SymType);
            EXPECT_TRUE(HasLine("nb10.pd_ - refused: ")) << "no refusal";
            EXPECT_TRUE(HasLine(c.reason)) << "the diagnostic does not say what is wrong:\n" << AllLines();
            EXPECT_TRUE(ListFiles(Downstream()).empty()) << "a download or expansion was left behind";
            m_lines.clear();
        }
    }
}

TEST_F(StoreFormsTest, RefusesCabinetExpandingPastMaxFileBytes)
{
    WriteSymsrvIni("[Store]\r\nMaxFileBytes=1000\r\n");
    NewSession();
    const IMAGEHLP_MODULE64 module = LoadNb10Through(Samples() + "\\compressed\\store");
    EXPECT_EQ(SymNone, module.SymType);
    EXPECT_TRUE(HasLine(", more than MaxFileBytes (1000)\n"));
    EXPECT_TRUE(ListFiles(Downstream()).empty());
}

TEST_F(StoreFormsTest, ExpandsMultiBlockStoredAndMszipCabinets)
{
    // Cabinets of our own builder: the file in 1 KB blocks, stored and MSZIP.
    const std::string pdb = ReadFileBytes(Symbols() + "\\nb10.pdb");
    for (uint16_t compression : {0, 1})
    {
        CabinetSpec spec;
        spec.name = "NB10.PDB";
        spec.content.assign(pdb.begin(), pdb.end());
        spec.compression = compression;
        spec.blockSize = 1024;
        const Bytes cabinet = BuildCabinet(spec).bytes;
        const IMAGEHLP_MODULE64 module =
            LoadNb10Through(StoreWith("nb10.pd_", std::string(cabinet.begin(), cabinet.end())));
        EXPECT_EQ(SymPdb, module.SymType) << compression;
        EXPECT_EQ(pdb, ReadFileBytes(module.LoadedPdbName));
        ASSERT_TRUE(DeleteFileA(module.LoadedPdbName));
    }
}

TEST_F(StoreFormsTest, PlainEntryIsPreferredToCompressedOne)
{
    const std::string store = StoreWith("nb10.pd_", "not a cabinet");
    ASSERT_TRUE(CopyFileA((Symbols() + "\\nb10.pdb").c_str(),
                          (store + "\\nb10.pdb\\" + Manifest("nb10.dll", "pdb_key") + "\\nb10.pdb").c_str(), FALSE));
    EXPECT_EQ(SymPdb, LoadNb10Through(store).SymType);
    EXPECT_FALSE(HasLine(" - refused: "));
}

TEST_F(StoreFormsTest, FollowsPointerToEachSymbolKindAndCopiesTheFile)
{
    for (const std::string& store : LocalAndHttp("pointer/path/store"))
    {
        for (const std::string& image : SeparateSymbolImages())
        {
            SCOPED_TRACE(store + " " + image);
            EXPECT_EQ(SymTypeOf(image), Load(Image(image), Chain(store), kExact).SymType);
            ExpectDownstreamHoldsExactly(image, true);
        }
    }
}

TEST_F(StoreFormsTest, PointerMessageEndsTheSearchInThatStoreOnly)
{
    const std::vector<std::string> next = LocalAndHttp("store");
    const std::vector<std::string> withdrawn = LocalAndHttp("pointer/message/store");
    for (size_t i = 0; i < next.size(); ++i)
    {
        SCOPED_TRACE(withdrawn[i]);
        const IMAGEHLP_MODULE64 module = Load(Image("dbgcv.dll"), Chain(withdrawn[i] + "*" + next[i]), kExact);
        EXPECT_TRUE(HasLine("file.ptr - the store says: This file was withdrawn from the sample store.\n"));
        EXPECT_EQ(SymCv, module.SymType) << "the next store was not asked";
        ExpectDownstreamHoldsExactly("dbgcv.dll", true);
        m_lines.clear();
    }
}

TEST_F(StoreFormsTest, PointerToMissingFileIsAMissThatKeepsNothing)
{
    for (const std::string& store : LocalAndHttp("pointer/missing/store"))
    {
        SCOPED_TRACE(store);
        DWORD64 base = 0;
        const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), Chain(store), kExact, &base);
        EXPECT_NE(0u, base);
        EXPECT_EQ(SymNone, module.SymType);
        EXPECT_TRUE(HasLine("\\symbols\\missing\\nb10.pdb - file not found (named by " + store)) << AllLines();
        EXPECT_TRUE(ListFiles(Downstream()).empty());
        m_lines.clear();
    }
}

TEST_F(StoreFormsTest, RefusesPointersToUnsafePaths)
{
    const std::string target = Symbols() + "\\nb10.pdb";
    const struct
    {
        std::string pointer;
        const char* why;
    } cases[] = {{"PATH:", "names an empty path"},
                 {"PATH:symbols\\nb10.pdb", "a relative path"},
                 {"PATH:..\\..\\nb10.pdb", "a relative path"},
                 {"PATH:\\nb10.pdb", "a relative path"},
                 {"PATH:Z:nb10.pdb", "a relative path"},
                 {"PATH:\\\\.\\NUL", "a device"},
                 {"PATH:\\\\?\\" + target, "a device"},
                 {"PATH:C:\\windows\\CON", "\"CON\""},
                 {"PATH:C:\\windows\\com1.pdb", "\"com1.pdb\""},
                 {"PATH:" + Samples() + "\\images\\..\\symbols\\nb10.pdb", "\"..\""},
                 {"PATH:" + Samples() + "\\symbols\\\\nb10.pdb", "an empty part"},
                 {"PATH:" + target + ":stream", "no plain name"},
                 {"LINK:" + target, "neither PATH: nor MSG:"},
                 {"", "it is empty"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pointer);
        const IMAGEHLP_MODULE64 module = LoadNb10Through(StoreWith("file.ptr", c.pointer));
        EXPECT_EQ(SymNone, module.SymType);
        EXPECT_TRUE(HasLine("file.ptr - refused: ")) << "no refusal";
        EXPECT_TRUE(HasLine(c.why)) << "the diagnostic does not say what is wrong";
        EXPECT_TRUE(ListFiles(Downstream()).empty());
        m_lines.clear();
    }
}

TEST_F(StoreFormsTest, PointerToMismatchedFileCopiesNothing)
{
    const IMAGEHLP_MODULE64 module =
        LoadNb10Through(StoreWith("file.ptr", "PATH:" + Samples() + "\\mismatch\\sig\\nb10.pdb"));
    EXPECT_EQ(SymNone, module.SymType);
    EXPECT_TRUE(HasLine("\\mismatch\\sig\\nb10.pdb - mismatched signature\n"));
    EXPECT_TRUE(ListFiles(Downstream()).empty());
}

TEST_F(StoreFormsTest, RefusesDamagedPdbsFromPlainDirectoryAndStoresKeepingNothing)
{
    for (const DamagedPdb& c : DamagedPdbs())
    {
        const std::string damaged = std::string("damaged/") + c.name;
        const std::vector<std::string> stores = LocalAndHttp(damaged + "/store");
        for (const std::string& path : {LocalAndHttp(damaged)[0], Chain(stores[0]), Chain(stores[1])})
        {
            SCOPED_TRACE(path);
            const IMAGEHLP_MODULE64 module = Load(Image(c.image), path, kExact);
            EXPECT_EQ(SymNone, module.SymType);
            EXPECT_STREQ("", module.LoadedPdbName);
            EXPECT_TRUE(HasLine(std::string(" - unreadable or corrupt: ") + c.reason));
            EXPECT_TRUE(ListFiles(Downstream()).empty()) << "the damaged file was kept downstream";
            m_lines.clear();
        }
    }
}
