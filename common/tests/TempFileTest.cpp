#include "TempFile.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace
{

TEST(TempFileTest, TargetChangesOnlyAtCommitAndNoTemporaryIsLeft)
{
    CTempDir dir;
    const std::string target = dir.File("target.pdb");
    ASSERT_TRUE(WriteFileBytes(dir.File("source.pdb"), "copied"));

    // A closed file can be read under its temporary name before the commit:
    // what a check of a finished download or expansion relies on.
    CTempFile written;
    ASSERT_TRUE(written.Create(target));
    ASSERT_TRUE(written.Write("new", 3));
    ASSERT_TRUE(written.Close());
    EXPECT_EQ("new", ReadFileBytes(written.Path()));
    EXPECT_FALSE(FileExists(target));
    ASSERT_TRUE(written.Commit());
    EXPECT_EQ("new", ReadFileBytes(target));

    CTempFile copied;
    ASSERT_TRUE(copied.Create(target));
    ASSERT_TRUE(copied.CopyFrom(dir.File("source.pdb")));
    EXPECT_EQ("new", ReadFileBytes(target));
    ASSERT_TRUE(copied.Commit());
    EXPECT_EQ("copied", ReadFileBytes(target));
    EXPECT_EQ((std::vector<std::string>{"source.pdb", "target.pdb"}), ListFiles(dir.Path()));
}

TEST(TempFileTest, UncommittedFileIsDeletedAndTheTargetKept)
{
    CTempDir dir;
    const std::string target = dir.File("target.pdb");
    ASSERT_TRUE(WriteFileBytes(target, "old"));
    {
        CTempFile file;
        ASSERT_TRUE(file.Create(target));
        ASSERT_TRUE(file.Write("partial", 7));
    }
    {
        CTempFile file;
        ASSERT_TRUE(file.Create(target));
        EXPECT_FALSE(file.CopyFrom(dir.File("missing.pdb")));
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), file.GetError());
    }
    EXPECT_EQ("old", ReadFileBytes(target));
    EXPECT_EQ((std::vector<std::string>{"target.pdb"}), ListFiles(dir.Path()));
}

TEST(TempFileTest, EachCallAndEachThreadGetsANameOfItsOwn)
{
    CTempDir dir;
    const std::string target = dir.File("qx3user.ini");
    CTempFile first;
    CTempFile second;
    CTempFile other;
    ASSERT_TRUE(first.Create(target));
    ASSERT_TRUE(second.Create(target));
    bool created = false;
    std::thread([&] { created = other.Create(target); }).join();
    ASSERT_TRUE(created);
    EXPECT_NE(first.Path(), second.Path());
    EXPECT_NE(first.Path(), other.Path());
    EXPECT_NE(second.Path(), other.Path());
}

} // namespace
