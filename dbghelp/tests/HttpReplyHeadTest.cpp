#include "HttpReplyHead.h"

#include <string>

#include <gtest/gtest.h>

#include "HttpText.h"

namespace
{

CHttpReplyHead Parsed(const std::string& bytes)
{
    CHttpReplyHead head;
    std::string why;
    EXPECT_TRUE(head.Parse(bytes, why)) << why;
    return head;
}

TEST(HttpReplyHeadTest, ParsesStatusReasonAndLength)
{
    const CHttpReplyHead head = Parsed("HTTP/1.1 200 OK\r\nServer: test\r\ncontent-LENGTH:  77825 \r\n\r\n");
    EXPECT_EQ(200, head.Status());
    EXPECT_EQ("OK", head.Reason());
    EXPECT_TRUE(head.HasLength());
    EXPECT_EQ(77825u, head.Length());
    EXPECT_FALSE(head.IsChunked());
    EXPECT_FALSE(head.HasLocation());
    EXPECT_FALSE(head.IsProvisional());
    EXPECT_FALSE(head.IsRedirect());
}

TEST(HttpReplyHeadTest, AcceptsBareLineFeedsAndAMissingReason)
{
    const CHttpReplyHead head = Parsed("HTTP/1.0 404\nContent-Length: 0\n\n");
    EXPECT_EQ(404, head.Status());
    EXPECT_EQ("", head.Reason());
    EXPECT_TRUE(head.HasLength());
}

TEST(HttpReplyHeadTest, ReasonIsShownAsPrintableTextOfBoundedLength)
{
    EXPECT_EQ("Busy?[2J?", Parsed("HTTP/1.1 503 Busy\x1b[2J\x01\r\n\r\n").Reason());
    EXPECT_EQ(std::string(CHttpText::kMaxShown, 'x') + "...",
              Parsed("HTTP/1.1 503 " + std::string(1000, 'x') + "\r\n\r\n").Reason());
}

TEST(HttpReplyHeadTest, ReadsFramingRedirectsAndProvisionalStatus)
{
    EXPECT_TRUE(Parsed("HTTP/1.1 200 OK\r\nTransfer-Encoding: identity , Chunked\r\n\r\n").IsChunked());
    EXPECT_FALSE(Parsed("HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\n\r\n").IsChunked());
    EXPECT_EQ(5u, Parsed("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n").Length());
    for (int status : {301, 302, 303, 307, 308})
    {
        const CHttpReplyHead head =
            Parsed("HTTP/1.1 " + std::to_string(status) + " Moved\r\nLocation:\t../a.pdb \r\n\r\n");
        EXPECT_TRUE(head.IsRedirect()) << status;
        EXPECT_TRUE(head.HasLocation());
        EXPECT_EQ("../a.pdb", head.Location());
    }
    EXPECT_FALSE(Parsed("HTTP/1.1 300 Choices\r\nLocation: /a\r\n\r\n").IsRedirect());
    EXPECT_FALSE(Parsed("HTTP/1.1 304 Not Modified\r\n\r\n").IsRedirect());
    EXPECT_TRUE(Parsed("HTTP/1.1 100 Continue\r\n\r\n").IsProvisional());
    EXPECT_TRUE(Parsed("HTTP/1.1 199 Whatever\r\n\r\n").IsProvisional());
}

// A head object is reused for the real reply after a provisional one: nothing
// of the first may carry over.
TEST(HttpReplyHeadTest, ParseForgetsThePreviousHead)
{
    CHttpReplyHead head;
    std::string why;
    ASSERT_TRUE(head.Parse("HTTP/1.1 100 Continue\r\nContent-Length: 9\r\nTransfer-Encoding: chunked\r\n"
                           "Location: /x\r\n\r\n",
                           why));
    ASSERT_TRUE(head.Parse("HTTP/1.1 200 OK\r\n\r\n", why)) << why;
    EXPECT_EQ(200, head.Status());
    EXPECT_FALSE(head.HasLength());
    EXPECT_FALSE(head.IsChunked());
    EXPECT_FALSE(head.HasLocation());
}

TEST(HttpReplyHeadTest, RefusesMalformedHeads)
{
    std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
    for (size_t i = 0; i <= CHttpReplyHead::kMaxHeaderCount; ++i)
        manyHeaders += "X: " + std::to_string(i) + "\r\n";
    const std::string refused[] = {
        "SSH-2.0-OpenSSH_9.2\r\n\r\n",
        "HTTP/2 200 OK\r\n\r\n",
        "HTTP/1.x 200 OK\r\n\r\n",
        "HTTP/1.1 2x0 OK\r\n\r\n",
        "HTTP/1.1 099 Low\r\n\r\n",
        "HTTP/1.1 20\r\n\r\n",
        "HTTP/1.1 200OK\r\n\r\n",
        "HTTP/1.1  200 OK\r\n\r\n",
        "HTTP/1.1 200 OK\r\nNo colon\r\n\r\n",
        "HTTP/1.1 200 OK\r\n: no name\r\n\r\n",
        "HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n",
        "HTTP/1.1 200 OK\r\nX-Ctl: a\x01"
        "b\r\n\r\n",
        "HTTP/1.1 200 OK\r\nX-Del: a\x7f\r\n\r\n",
        "HTTP/1.1 200 OK\r\nX-Big: " + std::string(CHttpReplyHead::kMaxLineLength, 'a') + "\r\n\r\n",
        manyHeaders + "\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 0x10\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: \r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551621\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 3\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, identity\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n",
        "HTTP/1.1 302 Found\r\nLocation: /a\r\nLocation: /b\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n",
    };
    for (const std::string& bytes : refused)
    {
        CHttpReplyHead head;
        std::string why;
        EXPECT_FALSE(head.Parse(bytes, why)) << bytes.substr(0, 80);
        EXPECT_FALSE(why.empty()) << bytes.substr(0, 80);
    }
}

} // namespace
