// A debug session in the stand-in IDE with Quillmar connected: the debugger's
// modules hooked by qx3trap, the registered qx3fetch fetching from the sample
// store, and the output window showing Quillmar's lines for each new image
// before the debugger's own verdict on it.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuillmarHost.h"
#include "TestSupport.h"

namespace
{

using Lines = std::vector<std::string>;

class IdeSessionTest : public QuillmarTest
{
};

TEST_F(IdeSessionTest, QuillmarsLinesForEachImageComeBeforeTheDebuggersVerdict)
{
    // An image of this build's width with symbols in the store: a PDB 2.00
    // for the 32-bit debugger, which it then finds; a PDB 7.00 for the
    // 64-bit one, copied all the same but of no use to the debugger.
    constexpr bool kWide = sizeof(void*) == 8;
    const std::string image = kWide ? "rsds64.exe" : "nb10.dll";
    const std::string copied = kWide ? "exe\\rsds64.pdb" : "dll\\nb10.pdb";
    CTempDir dest;
    ASSERT_TRUE(WriteFileBytes(AddIn().File("qx3.ini"), "[Settings]\r\nUseNtSymPath=0\r\nSymPath=srv*" + SamplesDir() +
                                                            "\\store\r\nVCSymDir=" + dest.Path() + "\r\n"));
    ASSERT_TRUE(WritePdbDirs(dest.File("exe") + ";" + dest.File("dll")));

    CQuillmarHost host;
    const std::string path = SampleImage(image);
    EXPECT_TRUE(
        host.Run({"connect", "idle 1500", "debug \"" + ExeDirectory() + "vc6_debuggee.exe\" " + path, "disconnect"}));
    const Lines lines = host.Lines();
    const size_t first = IndexOfLine(lines, "QUILLM: File: " + path);
    const size_t copy = IndexOfLine(lines, "QUILLM: Copying to " + dest.File(copied), first);
    const std::string verdict =
        kWide ? "Loaded '" + path + "', no matching symbolic information found." : "Loaded symbols for '" + path + "'";
    const size_t loaded = IndexOfLine(lines, verdict, first);
    ASSERT_LT(first, lines.size());
    EXPECT_LT(first, copy);
    EXPECT_LT(copy, loaded);
    EXPECT_LT(loaded, lines.size());
    EXPECT_TRUE(FileExists(dest.File(copied)));
}

} // namespace
