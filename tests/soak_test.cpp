// Opening and closing many viewers in one host process, as a user browsing files in the
// quick-view panel and in stand-alone listers does: nothing may pile up in the host, and
// no editor may outlive its viewer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "support/recorder.h"
#include "support/viewer.h"

namespace {

constexpr int kViewers = 100;

// The handle values of a that b lacks, each with the kind of object it refers to now.
std::vector<std::string> Difference(const std::vector<ULONG_PTR>& a, const std::vector<ULONG_PTR>& b) {
    std::vector<ULONG_PTR> only;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(only));
    std::vector<std::string> described;
    for (ULONG_PTR value : only)
        described.push_back(std::to_string(value) + " " + HandleKind(value));
    return described;
}

class Soak : public ViewerTest {
protected:
    // One viewer's whole life; returns its editor's process identifier, 0 on failure.
    DWORD OpenAndClose(ViewerMode mode) {
        Viewer viewer = Open(mode);
        if (!viewer.IsOpen())
            return 0;
        DWORD processId = viewer.processId;
        // The window count sees a viewer: lister (and host main), container, editor, its edit control.
        EXPECT_GE(CountOwnWindows(), 4);
        {
            RecordingFakes fakes(plugin_.module);
            plugin_.listCloseWindow(viewer.container);
        }
        ClearRecorded();
        EXPECT_FALSE(IsWindow(viewer.container));
        EXPECT_TRUE(viewer.WaitForEditorExit()) << "editor " << processId << " did not end after its close request";
        return processId;
    }
};

TEST_F(Soak, AHundredViewersLeaveNoHandlesWindowsHooksOrEditorsBehind) {
    // The first viewer of each mode leaves what lasts for the life of any process that
    // shows windows and starts programs (window classes, the platform's own caches). The
    // first scoped trace of a thread leaves GoogleTest's own watch on it, for the thread's
    // life: a handle on the thread, and in GoogleTest 1.16 (not 1.12) also the two semaphores (and,
    // when contended, the event) of the condition variable its watcher thread signals once.
    {
        SCOPED_TRACE("warm-up");
        ASSERT_NE(OpenAndClose(ViewerMode::kLister), 0u);
        ASSERT_NE(OpenAndClose(ViewerMode::kQuickView), 0u);
    }
    PumpFor(50);
    // The probe sees a handle the moment it is opened.
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const std::vector<ULONG_PTR> withProbe = OpenHandleValues();
    EXPECT_TRUE(std::binary_search(withProbe.begin(), withProbe.end(), reinterpret_cast<ULONG_PTR>(probe)));
    CloseHandle(probe);
    const std::vector<ULONG_PTR> handlesBefore = OpenHandleValues();
    const int windowsBefore = CountOwnWindows();
    ASSERT_FALSE(handlesBefore.empty());
    ASSERT_LT(handlesBefore.back(), 0x8000u) << "handle values beyond the probed range would go unseen";
    const size_t hooksBefore = InstalledHooks().size();
    const size_t removedBefore = RemovedHooks().size();

    const DWORD start = GetTickCount();
    std::vector<DWORD> editors;
    for (int i = 0; i < kViewers; ++i) {
        SCOPED_TRACE(testing::Message() << "viewer " << i);
        DWORD editor = OpenAndClose(i % 2 ? ViewerMode::kQuickView : ViewerMode::kLister);
        ASSERT_NE(editor, 0u);
        editors.push_back(editor);
    }
    const DWORD elapsed = GetTickCount() - start;
    PumpFor(50);
    // Counted before anything is printed: the first output of the C runtime opens handles of its own.
    const std::vector<ULONG_PTR> handlesAfter = OpenHandleValues();
    EXPECT_EQ(Difference(handlesAfter, handlesBefore), std::vector<std::string>{}) << "handles left open";
    EXPECT_EQ(Difference(handlesBefore, handlesAfter), std::vector<std::string>{}) << "handles of the test closed";
    EXPECT_EQ(CountOwnWindows(), windowsBefore) << "windows of the host process";
    RecordProperty("soak_milliseconds", static_cast<int>(elapsed));
    std::printf("%d viewers opened and closed in %lu ms\n", kViewers, static_cast<unsigned long>(elapsed));

    std::vector<HHOOK> installed(InstalledHooks().begin() + hooksBefore, InstalledHooks().end());
    std::vector<HHOOK> removed(RemovedHooks().begin() + removedBefore, RemovedHooks().end());
    EXPECT_EQ(installed.size(), 2u * kViewers);
    EXPECT_EQ(std::count(installed.begin(), installed.end(), nullptr), 0);
    EXPECT_EQ(removed, installed) << "every hook removed, in the order installed";

    EXPECT_EQ(EndProcesses(editors, 0), std::vector<DWORD>{}) << "editors still running after their viewer closed";
    EXPECT_EQ(RunningStandInProcesses(), std::vector<DWORD>{});
    EXPECT_EQ(log_->Events("exit").size(), static_cast<size_t>(kViewers) + 2);
}

}  // namespace
