#include "HttpStoreFixture.h"

// Stores reached by path, HTTP and HTTPS. Besides "samples" and "tlssamples":
// "samplescut" serves the store but ends every PDB reply half-way, "mute"
// accepts connections and never answers; "tlsuntrusted", "tlswronghost" and
// "tlsexpired" present certificates that must be refused.
class HttpStoreTest : public HttpStoreFixture
{
protected:
    static std::string HttpStore() { return Url("samples", "/store"); }
    static std::string HttpsStore() { return TlsUrl("tlssamples", "/store"); }
};

// Each symbol kind arrives whole in the downstream store and is what the
// module record names; the records' identity fields are the plain-directory
// tests' business.
TEST_F(HttpStoreTest, LoadsEachSymbolKindIntoDownstreamFromLocalHttpAndHttpsStores)
{
    for (const std::string& store : {Store(), HttpStore(), HttpsStore()})
    {
        for (const std::string& image : SeparateSymbolImages())
        {
            SCOPED_TRACE(store + " " + image);
            const IMAGEHLP_MODULE64 module = Load(Image(image), Chain(store), kExact);
            EXPECT_EQ(SymTypeOf(image), module.SymType) << AllLines();
            EXPECT_FALSE(module.PdbUnmatched);
            EXPECT_FALSE(module.DbgUnmatched);
            const std::string storePdb = Manifest(image, "store_pdb");
            const std::string storeDbg = Manifest(image, "store_dbg");
            if (!storePdb.empty())
            {
                EXPECT_STREQ((Downstream() + "\\" + storePdb).c_str(), module.LoadedPdbName);
            }
            if (!storeDbg.empty())
            {
                EXPECT_STREQ((Downstream() + "\\" + storeDbg).c_str(), module.LoadedImageName);
            }
            // Only finished files, each equal to the store's.
            ExpectDownstreamHoldsExactly(image, true);
        }
    }
    EXPECT_EQ(0u, CountLines(" refused: ")) << AllLines();
}

TEST_F(HttpStoreTest, ReadsSecondLoadFromDownstreamWithoutFetchingAgain)
{
    const struct
    {
        std::string store;
        const char* fetched;
    } cases[] = {{Store(), " copied to "}, {HttpStore(), " downloaded to "}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.store);
        Load(Image("dbgpdb.dll"), Chain(c.store), kExact);
        ASSERT_TRUE(HasLine(c.fetched));
        m_lines.clear();
        EXPECT_EQ(SymPdb, Load(Image("dbgpdb.dll"), Chain(c.store), kExact).SymType);
        EXPECT_FALSE(HasLine(c.fetched)) << "fetched again";
        ExpectDownstreamHoldsExactly("dbgpdb.dll", true);
    }
}

TEST_F(HttpStoreTest, PutsFilesIntoDefaultStoreBesideLibraryWithoutDownstream)
{
    const std::string expected = Lib().Directory() + "\\sym\\" + Manifest("nb10.dll", "store_pdb");
    for (const std::string& path :
         {"srv**" + Store(), "srv*" + Samples() + "\\compressed\\store", "srv*" + HttpStore()})
    {
        SCOPED_TRACE(path);
        EXPECT_STREQ(expected.c_str(), Load(Image("nb10.dll"), path, kExact).LoadedPdbName);
        EXPECT_EQ(ReadFileBytes(Symbols() + "\\nb10.pdb"), ReadFileBytes(expected));
        EXPECT_TRUE(DeleteFileA(expected.c_str()));
    }
}

// The cut download leaves nothing behind; the next server of the chain is asked.
TEST_F(HttpStoreTest, FindsSymbolsOnGoodServerAfterCutDownloadKeepingOnlyThem)
{
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), Chain(Url("samplescut") + "*" + HttpStore()), kExact);
    EXPECT_TRUE(HasLine(" - download failed")) << "the cut server was not asked";
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ((Downstream() + "\\" + Manifest("nb10.dll", "store_pdb")).c_str(), module.LoadedPdbName);
    ExpectDownstreamHoldsExactly("nb10.dll");
}

TEST_F(HttpStoreTest, MuteServerIsAskedOnceOverFiftyLoads)
{
    // A downstream of its own for the mute server, so that no load can be
    // answered from a copy before the mute server is asked.
    const std::string path = "srv*" + m_work->File("mutedown") + "*" + Url("mute") + ";" + Chain(HttpStore());
    int found = 0;
    for (int load = 0; load < 50; ++load)
    {
        const std::string& image = SeparateSymbolImages()[load % SeparateSymbolImages().size()];
        const IMAGEHLP_MODULE64 module = Load(Image(image), path, kExact);
        found += module.SymType == SymTypeOf(image) ? 1 : 0;
    }
    EXPECT_EQ(50, found) << "symbols from the good server";
    EXPECT_EQ(1u, CountLines(" - timed out")) << "the mute server was asked more than once";
    EXPECT_TRUE(HasLine(" - server skipped (offline)"));
}

// A server that failed is no miss: nothing is recorded downstream.
TEST_F(HttpStoreTest, TakesTimeOutAndOfflinePeriodFromSymsrvIni)
{
    UseSymsrvIni("[Http]\r\nTimeout=300\r\nOfflineSeconds=0\r\n");
    Load(Image("nb10.dll"), Chain(Url("mute")), kExact);
    Load(Image("rsds.exe"), Chain(Url("mute")), kExact);
    EXPECT_EQ(2u, CountLines(" did not answer within 300 ms; skipped for 0 s\n"));
    EXPECT_EQ(2u, CountLines(" - timed out"));
    EXPECT_FALSE(HasLine(" - server skipped (offline)"));
    EXPECT_TRUE(ListFiles(Downstream()).empty());
}

TEST_F(HttpStoreTest, RefusesEachBadCertificateOnceWithItsReasonAndLeavesNothing)
{
    const struct
    {
        const char* server;
        const char* reason;
    } cases[] = {
        {"tlsuntrusted", "its root certificate is not one this system trusts"},
        {"tlswronghost", "it was issued for another host name than localhost"},
        {"tlsexpired", "it or a certificate in its chain has expired or is not valid yet"},
    };
    for (const auto& refused : cases)
    {
        SCOPED_TRACE(refused.server);
        for (const std::string& image : SeparateSymbolImages())
            EXPECT_EQ(SymNone, Load(Image(image), Chain(TlsUrl(refused.server, "/store")), kExact).SymType) << image;
        EXPECT_EQ(1u, CountLines(" refused: certificate refused: " + std::string(refused.reason) + "; skipped for "))
            << AllLines();
        EXPECT_TRUE(ListFiles(Downstream()).empty()) << "file left in the downstream store";
    }
}

TEST_F(HttpStoreTest, FindsSymbolsOnTheNextStoreAfterARefusedCertificate)
{
    LoadEachKind(Chain(TlsUrl("tlswronghost", "/store") + "*" + HttpsStore()));
    EXPECT_EQ(1u, CountLines(" refused: certificate refused: ")) << AllLines();
}
