#include "DbgFile.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
BuiltFile DbgWith(const Bytes& codeView)
{
    return BuildDbg({DebugEntrySpec{1, MakeCoffSymbols(4)}, DebugEntrySpec{2, codeView}});
}

TEST(DbgFileTest, ReadsIdentityFromHeader)
{
    CDbgFile dbg;
    ASSERT_TRUE(Parse(dbg, DbgWith(MakeEmbeddedCodeView("NB09")).bytes));
    EXPECT_EQ(0x3A1B2C3Du, dbg.GetTimeDateStamp());
    EXPECT_EQ(0x5000u, dbg.GetSizeOfImage());
}

TEST(DbgFileTest, ReadsEmbeddedCodeViewAndCoff)
{
    CDbgFile dbg;
    ASSERT_TRUE(Parse(dbg, DbgWith(MakeEmbeddedCodeView("NB11")).bytes));
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

TEST(DbgFileTest, RefusesSectionCountWhoseTableOverflows)
{
    Bytes bytes = DbgWith(MakeNb10(1, 1, "a.pdb")).bytes;
    PatchU32(bytes, 24, 0xFFFFFFFF);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, bytes));
    EXPECT_EQ(0u, dbg.GetTimeDateStamp());
}

TEST(DbgFileTest, RefusesExportedNamesSizeBeyondEnd)
{
    Bytes bytes = DbgWith(MakeNb10(1, 1, "a.pdb")).bytes;
    PatchU32(bytes, 28, 0xFFFFFFF0);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, bytes));
}

TEST(DbgFileTest, RefusesMissingDebugDirectory)
{
    Bytes bytes = DbgWith(MakeNb10(1, 1, "a.pdb")).bytes;
    PatchU32(bytes, 32, 0);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, bytes));
}

TEST(DbgFileTest, RefusesCodeViewDataOutsideFile)
{
    BuiltFile built = DbgWith(MakeNb10(1, 1, "a.pdb"));
    PatchU32(built.bytes, built.debugDirectory + 28 + 24, 0xFFFFFFF0);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, built.bytes));
}

TEST(DbgFileTest, RefusesCoffHeaderWithSymbolTableOutsideData)
{
    BuiltFile built = DbgWith(MakeNb10(1, 1, "a.pdb"));
    PatchU32(built.bytes, built.debugData[0], 0x0FFFFFFF);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, built.bytes));
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
