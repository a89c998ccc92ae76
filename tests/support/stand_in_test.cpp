#include "support/stand_in_test.h"

void StandInTest::SetUp() {
    plugin_ = LoadPluginCopy();
    ASSERT_NE(plugin_.module, nullptr);
    files_ = MakeTempDirectory(L"velnote-files");
    file_ = files_ + L"sample.txt";
    WriteFileBytes(file_, "first line\r\nsecond line\r\n");
    log_ = std::make_unique<EditorLog>(files_ + L"editor.log");
}

void StandInTest::TearDown() {
    for (HWND container : containers_)
        if (IsWindow(container) && plugin_.listCloseWindow)
            plugin_.listCloseWindow(container);
    if (log_) {
        std::vector<DWORD> survivors = EndProcesses(log_->ProcessIds(), 5000);
        EXPECT_TRUE(survivors.empty()) << survivors.size() << " stand-in editor(s) had to be terminated";
    }
    // One that escaped the log would outlive the test and run into the next one's windows.
    std::vector<DWORD> running = RunningStandInProcesses();
    EXPECT_TRUE(running.empty()) << running.size() << " stand-in editor(s) still running";
    EndProcesses(running, 0);
    host_ = HostWindows();
    log_.reset();
    SetEditorMode(nullptr);
    SetTestEnvironment(L"VELNOTE_TEST_EDITORS", nullptr);
    if (plugin_.module)
        UnloadPlugin(plugin_);
    if (!files_.empty())
        RemoveDirectoryTree(files_);
}

HWND StandInTest::Open(HWND lister, std::wstring name) {
    HWND container = plugin_.listLoadW(lister, name.data(), 0);
    if (container)
        containers_.push_back(container);
    return container;
}
