#include "PointerFile.h"

#include <gtest/gtest.h>

namespace
{
CPointerFile Parsed(const std::string& text)
{
    CPointerFile pointer;
    pointer.Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return pointer;
}

TEST(PointerFileTest, ReadsPathPointer)
{
    const CPointerFile pointer = Parsed("PATH:\\\\server\\share\\app.pdb\\1234\\app.pdb\r\n");
    EXPECT_EQ(CPointerFile::Path, pointer.GetKind());
    EXPECT_EQ("\\\\server\\share\\app.pdb\\1234\\app.pdb", pointer.GetText());
}

TEST(PointerFileTest, ReadsMessagePointer)
{
    const CPointerFile pointer = Parsed("MSG: withdrawn by its owner \n\n");
    EXPECT_EQ(CPointerFile::Message, pointer.GetKind());
    EXPECT_EQ("withdrawn by its owner", pointer.GetText());
}

TEST(PointerFileTest, MatchesKeywordWithoutRegardToCaseAndSkipsByteOrderMark)
{
    EXPECT_EQ("C:\\a.pdb", Parsed("path:C:\\a.pdb").GetText());
    EXPECT_EQ(CPointerFile::Message, Parsed("\xEF\xBB\xBFMsg:gone").GetKind());
}

TEST(PointerFileTest, RefusesPathThatIsEmpty)
{
    for (const char* text : {"PATH:", "PATH:   \r\n", "PATH:\t"})
    {
        const CPointerFile pointer = Parsed(text);
        EXPECT_EQ(CPointerFile::Invalid, pointer.GetKind()) << text;
        EXPECT_EQ("the pointer names an empty path", pointer.GetError());
    }
}

TEST(PointerFileTest, RefusesWhatIsNoPointer)
{
    const std::string zero("PATH:C:\\a\0.pdb", 14);
    for (const std::string& text : {std::string(), std::string("LINK:C:\\a.pdb"), std::string(" PATH:C:\\a.pdb"),
                                    std::string("PATH:C:\\a.pdb\r\nPATH:D:\\b.pdb"), std::string("MSG:a\x01"), zero,
                                    "PATH:C:\\" + std::string(CPointerFile::kMaxSize, 'a')})
    {
        const CPointerFile pointer = Parsed(text);
        EXPECT_EQ(CPointerFile::Invalid, pointer.GetKind()) << text;
        EXPECT_TRUE(pointer.GetText().empty());
        EXPECT_FALSE(pointer.GetError().empty());
    }
}
} // namespace
