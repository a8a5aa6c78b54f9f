#include "HttpStoreFixture.h"

// HTTPS stores: "tlssamples" serves the samples with a certificate for
// localhost from the test CA; "tlsuntrusted", "tlswronghost" and "tlsexpired"
// present certificates that must be refused.
class HttpsStoreTest : public HttpStoreFixture
{
protected:
    std::string Chain() const { return "srv*" + Downstream() + "*" + TlsUrl("tlssamples", "/store"); }
};

TEST_F(HttpsStoreTest, LoadsEachSymbolKindDownloadedOverTls)
{
    for (const std::string& image : SeparateSymbolImages())
    {
        SCOPED_TRACE(image);
        const IMAGEHLP_MODULE64 module = Load(Image(image), Chain(), kExact);
        EXPECT_EQ(ExpectedType(image), module.SymType) << AllLines();
        for (const char* kind : {"store_pdb", "store_dbg"})
        {
            const std::string file = Manifest(image, kind);
            if (!file.empty())
            {
                EXPECT_EQ(ReadFileBytes(Samples() + "\\store\\" + file), ReadFileBytes(Downstream() + "\\" + file));
            }
        }
    }
    EXPECT_EQ(0u, CountLines(" refused: ")) << AllLines();
}

TEST_F(HttpsStoreTest, RefusesEachBadCertificateWithItsReasonAndLeavesNothing)
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
        {
            const IMAGEHLP_MODULE64 module =
                Load(Image(image), "srv*" + Downstream() + "*" + TlsUrl(refused.server, "/store"), kExact);
            EXPECT_EQ(SymNone, module.SymType) << image;
        }
        EXPECT_EQ(1u, CountLines(" refused: certificate refused: " + std::string(refused.reason) + "; skipped for "))
            << AllLines();
        EXPECT_TRUE(ListFiles(Downstream()).empty()) << "file left in the downstream store";
    }
}

TEST_F(HttpsStoreTest, FindsSymbolsOnTheNextStoreAfterARefusedCertificate)
{
    LoadEachKind("srv*" + Downstream() + "*" + TlsUrl("tlswronghost", "/store") + "*" + TlsUrl("tlssamples", "/store"));
    EXPECT_EQ(1u, CountLines(" refused: certificate refused: ")) << AllLines();
}
