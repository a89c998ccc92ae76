// The set-up that every end-to-end test with the stand-in editor shares: a fresh plug-in
// copy, a folder with a file to view, and the log of every stand-in the test starts.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/editor.h"
#include "support/host_windows.h"
#include "support/plugin.h"

// SetUp installs no editor: a test that needs one at the default place calls
// InstallStandInEditor(plugin_.directory). TearDown closes the containers that Open returned,
// fails the test when a stand-in editor had to be terminated or is still running, and
// removes what the set-up made and the variables that steer the stand-in.
class StandInTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // ListLoadW(lister, name); TearDown closes the container if it is still there.
    HWND Open(HWND lister, std::wstring name);

    Plugin plugin_;
    std::wstring files_;  // a temporary folder for the test's files, with a trailing backslash
    std::wstring file_;   // the viewed file
    std::unique_ptr<EditorLog> log_;
    HostWindows host_;    // destroyed by TearDown once the editors have ended
    std::vector<HWND> containers_;
};
