#include "ModuleTrace.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "Trace.h"

namespace
{

// Loads a private copy of the probe DLL (its own copy of the trace library)
// from a test directory, as a deliverable is loaded from its install folder.
class ProbeModule
{
public:
    ProbeModule(const CTempDir& dir, const std::string& name) : m_path(dir.File(name))
    {
        CopyFileA((ExeDirectory() + "trace_probe.dll").c_str(), m_path.c_str(), FALSE);
        m_module = LoadLibraryA(m_path.c_str());
    }
    ~ProbeModule()
    {
        if (m_module != nullptr)
            FreeLibrary(m_module);
    }
    bool Loaded() const { return m_module != nullptr; }
    void Init() const { Call<void (*)()>("ProbeInit")(); }
    void Trace(const char* text) const { Call<void (*)(const char*)>("ProbeTrace")(text); }
    int IsEnabled() const { return Call<int (*)()>("ProbeIsEnabled")(); }

private:
    template <typename F>
    F Call(const char* name) const
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    }
    std::string m_path;
    HMODULE m_module = nullptr;
};

TEST(ModuleTraceTest, TraceOnAppendsToTheLogBesideTheModuleWithBothColumns)
{
    CTempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("qx3.ini"), "[Debug]\r\nTrace=1\r\n"));
    ASSERT_TRUE(WriteFileBytes(dir.File("probe1.log"), "earlier run\r\n"));
    {
        ProbeModule probe(dir, "probe1.dll");
        ASSERT_TRUE(probe.Loaded());
        probe.Init();
        probe.Trace("hello\n");
    }

    const std::vector<std::string> lines = SplitLines(ReadFileBytes(dir.File("probe1.log")));
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("earlier run\r\n", lines[0]);
    char prefix[32];
    snprintf(prefix, sizeof(prefix), "1\t%lX\t", GetCurrentThreadId());
    const size_t dateWidth = 18;
    const char* expected[] = {"{ ProbeTrace()\r\n", "   hello\r\n", "} ProbeTrace()\r\n"};
    for (size_t i = 1; i < 4; ++i)
    {
        ASSERT_EQ(0u, lines[i].find(prefix)) << lines[i];
        const std::string date = lines[i].substr(strlen(prefix), dateWidth);
        int y, mo, d, h, mi, s;
        EXPECT_EQ(6, sscanf(date.c_str(), "%2d/%2d/%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s)) << date;
        EXPECT_EQ('\t', date.back());
        EXPECT_EQ(expected[i - 1], lines[i].substr(strlen(prefix) + dateWidth));
    }
}

TEST(ModuleTraceTest, TraceOffMissingKeyOrMissingFileWritesNothing)
{
    const char* inis[] = {"[Debug]\r\nTrace=0\r\n", "[Debug]\r\nOther=1\r\n", nullptr};
    int n = 0;
    TraceEnable(1);
    for (const char* ini : inis)
    {
        SCOPED_TRACE(ini != nullptr ? ini : "no qx3.ini");
        CTempDir dir;
        // Each copy has a name of its own, so that none is taken for another.
        const std::string probeName = "probe" + std::to_string(10 + n++) + ".dll";
        std::vector<std::string> files = {probeName};
        if (ini != nullptr)
        {
            ASSERT_TRUE(WriteFileBytes(dir.File("qx3.ini"), ini));
            files.push_back("qx3.ini");
        }
        ProbeModule probe(dir, probeName);
        ASSERT_TRUE(probe.Loaded());
        probe.Init();
        probe.Trace("quiet\n");
        EXPECT_EQ(0, probe.IsEnabled());
        std::vector<std::string> found = ListFiles(dir.Path());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(files, found) << "no log file";
    }
    EXPECT_EQ(1, TraceIsEnabled()) << "each module keeps its own switch: the test program's is untouched";
}

} // namespace
