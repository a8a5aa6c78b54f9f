#include "DbgFile.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
BuiltFile DbgWith(const Bytes& codeView)
{
    return BuildDbg({DebugEntrySpec{1, MakeCoffSymbols(4)}, DebugEntrySpec{2, codeView}});
}

TEST(DbgFileTest, ReadsIdentityEmbeddedCodeViewAndCoff)
{
    CDbgFile dbg;
    ASSERT_TRUE(Parse(dbg, DbgWith(MakeEmbeddedCodeView("NB11")).bytes));
    EXPECT_EQ(0x3A1B2C3Du, dbg.GetTimeDateStamp());
    EXPECT_EQ(0x5000u, dbg.GetSizeOfImage());
    EXPECT_EQ(CCodeViewRecord::Nb11, dbg.GetCodeView().GetKind());
    EXPECT_TRUE(dbg.HasCoff());
}

TEST(DbgFileTest, ReadsPdbReferenceWithoutCoff)
{
    CDbgFile dbg;
    ASSERT_TRUE(Parse(dbg, BuildDbg({DebugEntrySpec{2, MakeNb10(0x11223344, 5, "app.pdb")}}).bytes));
    EXPECT_EQ(CCodeViewRecord::Nb10, dbg.GetCodeView().GetKind());
    EXPECT_EQ("app.pdb", dbg.GetCodeView().GetPdbName());
    EXPECT_FALSE(dbg.HasCoff());
}

TEST(DbgFileTest, RefusesHeaderFieldsAndDataOutsideTheFile)
{
    const BuiltFile built = DbgWith(MakeNb10(1, 1, "a.pdb"));
    const struct
    {
        const char* what;
        size_t at;
        uint32_t value;
    } cases[] = {
        {"section count whose table overflows", 24, 0xFFFFFFFF},
        {"exported names size beyond the end", 28, 0xFFFFFFF0},
        {"no debug directory", 32, 0},
        {"CodeView data outside the file", built.debugDirectory + 28 + 24, 0xFFFFFFF0},
        {"COFF header with its symbol table outside the data", built.debugData[0], 0x0FFFFFFF},
    };
    for (const auto& c : cases)
    {
        Bytes bytes = built.bytes;
        PatchU32(bytes, c.at, c.value);
        CDbgFile dbg;
        EXPECT_FALSE(Parse(dbg, bytes)) << c.what;
        EXPECT_EQ(0u, dbg.GetTimeDateStamp()) << c.what;
    }
}

TEST(DbgFileTest, EveryTruncationIsRefused)
{
    const Bytes bytes = DbgWith(MakeRsds(kTestGuid, 3, "a.pdb")).bytes;
    for (size_t length = 0; length < bytes.size(); ++length)
    {
        CDbgFile dbg;
        EXPECT_FALSE(dbg.Parse(bytes.data(), length)) << length;
        EXPECT_FALSE(dbg.HasCodeView());
    }
}
} // namespace
