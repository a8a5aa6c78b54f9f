#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CallGuiThread.h"
#include "OutputWindow.h"

namespace
{

// Messages of the window still queued, without dispatching them.
size_t QueuedOutput(HWND window)
{
    size_t count = 0;
    MSG message;
    while (PeekMessageA(&message, window, WM_OUTPUTSTRING, WM_OUTPUTSTRING, PM_REMOVE))
    {
        CCallGuiThread::TakeOutputString(message.wParam);
        ++count;
    }
    return count;
}

TEST(CallGuiThreadTest, TextFromAnotherThreadArrivesWholeAndInOrder)
{
    COutputWindow window;
    std::thread sender(
        []
        {
            for (int i = 0; i < 100; ++i)
                CCallGuiThread::OutputString("QUILLM: line " + std::to_string(i) + "\nsecond line\n");
        });
    sender.join();
    ASSERT_TRUE(window.PumpUntil([&] { return window.Texts().size() == 100; }, 10000));
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ("QUILLM: line " + std::to_string(i) + "\nsecond line\n", window.Texts()[i]);
    EXPECT_EQ(200u, window.Lines().size());
}

TEST(CallGuiThreadTest, EmptyTextAndOutputWithoutALiveTargetPostNothing)
{
    COutputWindow window;
    CCallGuiThread::OutputString("");
    EXPECT_EQ(0u, QueuedOutput(window.Handle()));
    CCallGuiThread::SetTargetWindow(nullptr);
    CCallGuiThread::OutputString("dropped\n");
    EXPECT_EQ(0u, QueuedOutput(window.Handle()));

    HWND gone = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, gone);
    DestroyWindow(gone);
    CCallGuiThread::SetTargetWindow(gone);
    CCallGuiThread::OutputString("dropped\n");
    EXPECT_EQ(0u, QueuedOutput(nullptr));

    CCallGuiThread::SetTargetWindow(window.Handle());
    CCallGuiThread::OutputString("kept\n");
    EXPECT_EQ(1u, QueuedOutput(window.Handle()));
}

} // namespace
