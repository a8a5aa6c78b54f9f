#include "CodeViewRecord.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
TEST(CodeViewRecordTest, ReadsRsdsGuidAgeAndName)
{
    const Bytes record = MakeRsds(kTestGuid, 7, "c:\\build\\app.pdb");
    CCodeViewRecord cv;
    ASSERT_TRUE(cv.Parse(record.data(), record.size()));
    EXPECT_EQ(CCodeViewRecord::Rsds, cv.GetKind());
    EXPECT_EQ(kTestGuid, cv.GetGuid());
    EXPECT_EQ(7u, cv.GetAge());
    EXPECT_EQ(0u, cv.GetSignature());
    EXPECT_EQ("c:\\build\\app.pdb", cv.GetPdbName());
    EXPECT_TRUE(cv.RefersToPdb());
}

TEST(CodeViewRecordTest, ReadsNb10SignatureAgeAndName)
{
    const Bytes record = MakeNb10(0x3A1B2C3D, 2, "app.pdb");
    CCodeViewRecord cv;
    ASSERT_TRUE(cv.Parse(record.data(), record.size()));
    EXPECT_EQ(CCodeViewRecord::Nb10, cv.GetKind());
    EXPECT_EQ(0x3A1B2C3Du, cv.GetSignature());
    EXPECT_EQ(2u, cv.GetAge());
    EXPECT_EQ("app.pdb", cv.GetPdbName());
}

TEST(CodeViewRecordTest, RecognisesEmbeddedNb09AndNb11)
{
    const Bytes nb09 = MakeEmbeddedCodeView("NB09");
    const Bytes nb11 = MakeEmbeddedCodeView("NB11");
    CCodeViewRecord cv;
    ASSERT_TRUE(cv.Parse(nb09.data(), nb09.size()));
    EXPECT_EQ(CCodeViewRecord::Nb09, cv.GetKind());
    EXPECT_FALSE(cv.RefersToPdb());
    ASSERT_TRUE(cv.Parse(nb11.data(), nb11.size()));
    EXPECT_EQ(CCodeViewRecord::Nb11, cv.GetKind());
    EXPECT_TRUE(cv.GetPdbName().empty());
}

TEST(CodeViewRecordTest, RefusesMalformedRecords)
{
    Bytes unknown = MakeNb10(1, 1, "a.pdb");
    unknown[3] = '8';
    Bytes offset = MakeNb10(1, 1, "a.pdb");
    PatchU32(offset, 4, 8);
    Bytes count = MakeEmbeddedCodeView("NB09");
    PatchU32(count, 16 + 4, 0xFFFFFFFF);
    Bytes subsection = MakeEmbeddedCodeView("NB09");
    PatchU32(subsection, 32 + 8, 0xFFFFFFFC);
    const struct
    {
        const char* what;
        Bytes record;
    } cases[] = {
        {"unknown signature", unknown},
        {"overlong PDB name", MakeRsds(kTestGuid, 1, std::string(CCodeViewRecord::kMaxPdbName + 1, 'a'))},
        {"NB10 with a non-zero offset", offset},
        {"embedded directory with an overflowing count", count},
        {"subsection outside the record", subsection},
    };
    for (const auto& c : cases)
    {
        CCodeViewRecord cv;
        EXPECT_FALSE(cv.Parse(c.record.data(), c.record.size())) << c.what;
        EXPECT_EQ(CCodeViewRecord::None, cv.GetKind()) << c.what;
    }
}

TEST(CodeViewRecordTest, EveryTruncationIsRefused)
{
    const Bytes records[] = {MakeRsds(kTestGuid, 1, "a.pdb"), MakeNb10(5, 1, "a.pdb"), MakeEmbeddedCodeView("NB09")};
    for (const Bytes& record : records)
    {
        for (size_t length = 0; length < record.size(); ++length)
        {
            const Bytes cut(record.begin(), record.begin() + length);
            CCodeViewRecord cv;
            EXPECT_FALSE(cv.Parse(cut.data(), cut.size())) << "length " << length;
            EXPECT_EQ(CCodeViewRecord::None, cv.GetKind());
        }
    }
}
} // namespace
