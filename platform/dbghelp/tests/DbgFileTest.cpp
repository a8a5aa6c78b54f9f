#include "DbgFile.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
DbgSpec DbgWith(const Bytes& codeView)
{
    DbgSpec spec;
    spec.debug.push_back(DebugEntrySpec{1, MakeCoffSymbols(4), false});
    spec.debug.push_back(DebugEntrySpec{2, codeView, false});
    return spec;
}

bool Parse(CDbgFile& dbg, const Bytes& bytes)
{
    return dbg.Parse(bytes.data(), bytes.size());
}

TEST(DbgFileTest, ReadsIdentityFromHeader)
{
    CDbgFile dbg;
    ASSERT_TRUE(Parse(dbg, BuildDbg(DbgWith(MakeEmbeddedCodeView("NB09"))).bytes));
    EXPECT_EQ(0x3A1B2C3Du, dbg.GetTimeDateStamp());
    EXPECT_EQ(0x5000u, dbg.GetSizeOfImage());
    EXPECT_EQ(0x400000u, dbg.GetImageBase());
    EXPECT_EQ(0x14C, dbg.GetMachine());
}

TEST(DbgFileTest, ReadsEmbeddedCodeViewAndCoff)
{
    CDbgFile dbg;
    ASSERT_TRUE(Parse(dbg, BuildDbg(DbgWith(MakeEmbeddedCodeView("NB11"))).bytes));
    EXPECT_EQ(CCodeViewRecord::Nb11, dbg.GetCodeView().GetKind());
    EXPECT_TRUE(dbg.HasCoff());
}

TEST(DbgFileTest, ReadsPdbReferenceOfDbg)
{
    CDbgFile dbg;
    ASSERT_TRUE(Parse(dbg, BuildDbg(DbgWith(MakeNb10(0x11223344, 5, "app.pdb"))).bytes));
    EXPECT_EQ(CCodeViewRecord::Nb10, dbg.GetCodeView().GetKind());
    EXPECT_EQ(5u, dbg.GetCodeView().GetAge());
    EXPECT_EQ("app.pdb", dbg.GetCodeView().GetPdbName());
}

TEST(DbgFileTest, ReportsNoCoffWithoutCoffEntry)
{
    DbgSpec spec;
    spec.debug.push_back(DebugEntrySpec{2, MakeRsds(kTestGuid, 1, "a.pdb"), false});
    CDbgFile dbg;
    ASSERT_TRUE(Parse(dbg, BuildDbg(spec).bytes));
    EXPECT_FALSE(dbg.HasCoff());
    EXPECT_EQ(CCodeViewRecord::Rsds, dbg.GetCodeView().GetKind());
}

TEST(DbgFileTest, RefusesWrongSignature)
{
    Bytes bytes = BuildDbg(DbgWith(MakeNb10(1, 1, "a.pdb"))).bytes;
    bytes[0] = 'M';
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, bytes));
    EXPECT_EQ(0u, dbg.GetTimeDateStamp());
}

TEST(DbgFileTest, RefusesSectionCountWhoseTableOverflows)
{
    Bytes bytes = BuildDbg(DbgWith(MakeNb10(1, 1, "a.pdb"))).bytes;
    PatchU32(bytes, 24, 0xFFFFFFFF);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, bytes));
}

TEST(DbgFileTest, RefusesExportedNamesSizeBeyondEnd)
{
    Bytes bytes = BuildDbg(DbgWith(MakeNb10(1, 1, "a.pdb"))).bytes;
    PatchU32(bytes, 28, 0xFFFFFFF0);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, bytes));
}

TEST(DbgFileTest, RefusesMissingDebugDirectory)
{
    Bytes bytes = BuildDbg(DbgWith(MakeNb10(1, 1, "a.pdb"))).bytes;
    PatchU32(bytes, 32, 0);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, bytes));
}

TEST(DbgFileTest, RefusesCodeViewDataOutsideFile)
{
    BuiltFile built = BuildDbg(DbgWith(MakeNb10(1, 1, "a.pdb")));
    PatchU32(built.bytes, built.debugDirectory + 28 + 24, 0xFFFFFFF0);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, built.bytes));
}

TEST(DbgFileTest, RefusesCoffHeaderWithSymbolTableOutsideData)
{
    BuiltFile built = BuildDbg(DbgWith(MakeNb10(1, 1, "a.pdb")));
    PatchU32(built.bytes, built.debugData[0], 0x0FFFFFFF);
    CDbgFile dbg;
    EXPECT_FALSE(Parse(dbg, built.bytes));
}

TEST(DbgFileTest, EveryTruncationIsRefused)
{
    const Bytes bytes = BuildDbg(DbgWith(MakeRsds(kTestGuid, 3, "a.pdb"))).bytes;
    for (size_t length = 0; length < bytes.size(); ++length)
    {
        CDbgFile dbg;
        EXPECT_FALSE(dbg.Parse(bytes.data(), length)) << length;
        EXPECT_FALSE(dbg.HasCodeView());
    }
}
}
