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

// The keyword matches without regard to case after an optional byte order
// mark; the text is trimmed of surrounding white space and line ends.
TEST(PointerFileTest, ReadsPathAndMessagePointers)
{
    const struct
    {
        std::string file;
        CPointerFile::Kind kind;
        const char* text;
    } cases[] = {
        {"PATH:\\\\server\\share\\app.pdb\\1234\\app.pdb\r\n", CPointerFile::Path,
         "\\\\server\\share\\app.pdb\\1234\\app.pdb"},
        {"MSG: withdrawn by its owner \n\n", CPointerFile::Message, "withdrawn by its owner"},
        {"path:C:\\a.pdb", CPointerFile::Path, "C:\\a.pdb"},
        {"\xEF\xBB\xBFMsg:gone", CPointerFile::Message, "gone"},
    };
    for (const auto& c : cases)
    {
        const CPointerFile pointer = Parsed(c.file);
        EXPECT_EQ(c.kind, pointer.GetKind()) << c.file;
        EXPECT_EQ(c.text, pointer.GetText()) << c.file;
    }
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
