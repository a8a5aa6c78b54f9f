#include <winsock2.h>

#include "HttpClient.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "TestSupport.h"

namespace
{

// Downloads from the HTTPS servers of tests/http-servers.sh, whose test CA
// CTest's tls fixture made trusted in the private prefix.
class HttpsDownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(0u, HttpServerPort("tls"))
            << "no server ports in QX3_TESTDIR\\http-servers.ini: run this test through ctest, whose http and tls "
               "fixtures start the servers and trust their CA";
    }

    std::string Target() const { return m_dir.File("file.bin"); }
    HttpResult Fetch(const std::string& url, unsigned long long* bytes = nullptr)
    {
        return m_client.Download(url, Target(), m_diag.Sink(), bytes);
    }

    // A refused server: the reason in one line, nothing left behind, and the
    // server skipped afterwards.
    void ExpectRefused(const char* server, const std::string& reason)
    {
        const std::string url = TlsUrl(HttpServerPort(server), "/small.bin");
        EXPECT_EQ(HttpResult::Failed, Fetch(url));
        const std::string line = "SYMSRV:  localhost:" + std::to_string(HttpServerPort(server)) +
                                 " refused: certificate refused: " + reason + "; skipped for 300 s\n";
        EXPECT_TRUE(m_diag.Has(line)) << "expected " << line << "got\n" << m_diag.All();
        EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
        EXPECT_EQ(HttpResult::Offline, Fetch(url));
    }

    CTempDir m_dir;
    CHttpClient m_client;
    CDiagLines m_diag;
};

TEST_F(HttpsDownloadTest, DownloadsExactBytesOverTls)
{
    unsigned long long bytes = 0;
    ASSERT_EQ(HttpResult::Ok, Fetch(TlsUrl(HttpServerPort("tls"), "/small.bin"), &bytes)) << m_diag.All();
    EXPECT_EQ(ReadFileBytes(StoreFile("small.bin")), ReadFileBytes(Target()));
    EXPECT_EQ(77825u, bytes);
    EXPECT_EQ((std::vector<std::string>{"SYMSRV:  HTTP GET " + TlsUrl(HttpServerPort("tls"), "/small.bin") + "\n",
                                        "SYMSRV:  HTTP 200 OK\n", "SYMSRV:  Received 77825 bytes\n"}),
              m_diag.Lines());
}

TEST_F(HttpsDownloadTest, DownloadsLargeFileOverTls)
{
    ASSERT_EQ(HttpResult::Ok, Fetch(TlsUrl(HttpServerPort("tls"), "/big.bin"))) << m_diag.All();
    EXPECT_TRUE(ReadFileBytes(StoreFile("big.bin")) == ReadFileBytes(Target()));
}

TEST_F(HttpsDownloadTest, MissingFileIsNotFound)
{
    EXPECT_EQ(HttpResult::NotFound, Fetch(TlsUrl(HttpServerPort("tls"), "/no/such.pdb")));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpsDownloadTest, RefusesCertificateFromAnUntrustedIssuer)
{
    ExpectRefused("tlsuntrusted", "its root certificate is not one this system trusts");
}

TEST_F(HttpsDownloadTest, RefusesCertificateForAnotherHostName)
{
    ExpectRefused("tlswronghost", "it was issued for another host name than localhost");
}

TEST_F(HttpsDownloadTest, RefusesExpiredCertificate)
{
    ExpectRefused("tlsexpired", "it or a certificate in its chain has expired or is not valid yet");
}

TEST_F(HttpsDownloadTest, RefusesCertificateThatNamesTheHostByAnotherName)
{
    // The certificate names "localhost"; 127.0.0.1 is the same server but not
    // the name it was issued for.
    EXPECT_EQ(HttpResult::Failed, Fetch("https://127.0.0.1:" + std::to_string(HttpServerPort("tls")) + "/small.bin"));
    EXPECT_EQ(1u,
              m_diag.CountHolding(" refused: certificate refused: it was issued for another host name than 127.0.0.1"))
        << m_diag.All();
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpsDownloadTest, PlainHttpServerFailsTheHandshake)
{
    EXPECT_EQ(HttpResult::Failed, Fetch(TlsUrl(HttpServerPort("mirror"), "/small.bin")));
    EXPECT_EQ(1u, m_diag.CountStartingWith("SYMSRV:  localhost:" + std::to_string(HttpServerPort("mirror")) +
                                           " refused: the server's answer is not TLS (it begins \""))
        << m_diag.All();
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpsDownloadTest, RedirectFromHttpsToHttpIsRefused)
{
    EXPECT_EQ(HttpResult::Failed, Fetch(TlsUrl(HttpServerPort("tls"), "/tohttp/https-test/small.bin")));
    EXPECT_EQ(
        1u, m_diag.CountStartingWith("SYMSRV:  Redirect not followed: redirect from https to http: http://127.0.0.1:"))
        << m_diag.All();
    EXPECT_EQ(0u, CountRequests("mirror", "/https-test/small.bin")) << "the http server was asked";
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpsDownloadTest, RedirectFromHttpToHttpsIsFollowed)
{
    ASSERT_EQ(HttpResult::Ok, Fetch(LoopbackUrl(HttpServerPort("store"), "/tohttps/small.bin"))) << m_diag.All();
    EXPECT_TRUE(m_diag.Has("SYMSRV:  HTTP GET " + TlsUrl(HttpServerPort("tls"), "/small.bin") + "\n")) << m_diag.All();
    EXPECT_EQ(ReadFileBytes(StoreFile("small.bin")), ReadFileBytes(Target()));
}

} // namespace
