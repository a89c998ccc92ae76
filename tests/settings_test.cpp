// The plug-in's settings file and the editor location, end to end through ListLoadW with
// the stand-in editor in its own process.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/editor.h"
#include "support/host_windows.h"
#include "support/iat.h"
#include "support/message_box.h"
#include "support/plugin.h"
#include "support/stand_in_test.h"

namespace {

class Settings : public StandInTest {
protected:
    void SetUp() override {
        StandInTest::SetUp();
        if (HasFatalFailure())
            return;
        settingsFile_ = plugin_.directory + L"velnote.ini";
        host_ = CreateStandAloneLister();
    }

    HWND Open(std::wstring name) { return StandInTest::Open(host_.lister, std::move(name)); }

    bool SettingsFileExists() const { return GetFileAttributesW(settingsFile_.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::wstring settingsFile_;
};

// Each build reads its own path key and has its own default editor place; the row of the
// build this test program loads is the one that runs.
struct BuildSettings {
    bool is64;
    std::string ownKey, otherKey;
    std::wstring defaultEditor;  // below the plug-in folder
};
const BuildSettings& ThisBuild() {
    static const BuildSettings rows[] = {
        {true, "path64", "path", L"Velnote64\\Velnote.exe"},
        {false, "path", "path64", L"Velnote\\Velnote.exe"},
    };
    return rows[0].is64 == (sizeof(void*) == 8) ? rows[0] : rows[1];
}

// What the plug-in asks of the settings file, recorded on the way to the platform.
struct FileCall {
    std::wstring function, path;
    DWORD access, share, disposition, attributes;
    bool securityNull, templateNull;
};
std::vector<FileCall> gFileCalls;
std::wstring gSettingsFile;

HANDLE WINAPI RecordCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD attributes, HANDLE templateFile) {
    gFileCalls.push_back({L"CreateFileW", path, access, share, disposition, attributes, security == nullptr,
                          templateFile == nullptr});
    return CreateFileW(path, access, share, security, disposition, attributes, templateFile);
}

// The settings file cannot be created: as in a folder the user may not write to.
HANDLE WINAPI RefuseSettingsFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD attributes, HANDLE templateFile) {
    gFileCalls.push_back({L"CreateFileW", path, access, share, disposition, attributes, security == nullptr,
                          templateFile == nullptr});
    if (path == gSettingsFile) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path, access, share, security, disposition, attributes, templateFile);
}

TEST_F(Settings, FirstUseCreatesTheSettingsFileOnceAndNeverRewritesIt) {
    InstallStandInEditor(plugin_.directory);
    ASSERT_FALSE(SettingsFileExists());
    MessageBoxWatcher boxes;
    gFileCalls.clear();
    {
        ScopedImport create(plugin_.module, "KERNEL32.dll", "CreateFileW", (void*)&RecordCreateFile);
        ASSERT_NE(Open(file_), nullptr) << "the default editor location is used";
        ASSERT_EQ(gFileCalls.size(), 1u);
        EXPECT_EQ(gFileCalls[0].function, L"CreateFileW");
        EXPECT_EQ(gFileCalls[0].path, settingsFile_);
        EXPECT_EQ(gFileCalls[0].access, static_cast<DWORD>(GENERIC_WRITE));
        EXPECT_EQ(gFileCalls[0].share, 0u);
        EXPECT_EQ(gFileCalls[0].disposition, static_cast<DWORD>(CREATE_NEW));
        EXPECT_EQ(gFileCalls[0].attributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
        EXPECT_TRUE(gFileCalls[0].securityNull && gFileCalls[0].templateNull);

        // An empty section Options, as Windows writes it: ASCII, CRLF, no BOM.
        ASSERT_TRUE(SettingsFileExists());
        EXPECT_EQ(ReadFileBytes(settingsFile_), "[Options]\r\n");
        EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{});

        // Present now, so never created or written again, whatever it holds.
        const std::string edited = "; mine\r\n[Options]\r\nAskOpenBinFile=0\r\n\r\n[Other]\r\nx=y\r\n";
        WriteFileBytes(settingsFile_, edited);
        gFileCalls.clear();
        ASSERT_NE(Open(file_), nullptr);
        EXPECT_EQ(gFileCalls.size(), 0u);
        EXPECT_EQ(ReadFileBytes(settingsFile_), edited);

        WriteFileBytes(settingsFile_, "");
        ASSERT_NE(Open(file_), nullptr) << "an empty settings file gives the defaults";
        EXPECT_EQ(gFileCalls.size(), 0u);
        EXPECT_EQ(ReadFileBytes(settingsFile_), "");
    }
    EXPECT_EQ(log_->ProcessIds().size(), 3u);
}

TEST_F(Settings, UncreatableSettingsFileIsReportedAndTheLaunchGoesOn) {
    InstallStandInEditor(plugin_.directory);
    MessageBoxWatcher boxes;
    gSettingsFile = settingsFile_;
    ScopedImport refuse(plugin_.module, "KERNEL32.dll", "CreateFileW", (void*)&RefuseSettingsFile);
    const std::wstring message =
        L"I can't create a file velnote.ini. Default paths will be used  Velnote\\Velnote.exe, Velnote64\\Velnote.exe";
    for (int load = 1; load <= 2; ++load) {
        SCOPED_TRACE(load);
        HWND container = Open(file_);
        EXPECT_NE(container, nullptr) << "the default editor path is used";
        EXPECT_FALSE(SettingsFileExists());
        std::vector<SeenMessageBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), static_cast<size_t>(load)) << "reported on every load";
        EXPECT_EQ(seen.back().text, message);
        EXPECT_EQ(seen.back().caption, L"Error") << "the platform's default caption";
        EXPECT_EQ(seen.back().owner, nullptr);
        EXPECT_TRUE(seen.back().errorIcon);
    }
    EXPECT_EQ(log_->ProcessIds().size(), 2u);
}

TEST_F(Settings, TheBuildsOwnPathKeyWithAVariableNamesTheEditorAndTheOtherKeyIsIgnored) {
    const BuildSettings& build = ThisBuild();
    const std::wstring editors = files_ + L"editors";
    InstallStandInEditorAt(editors + L"\\Velnote.exe");
    SetTestEnvironment(L"VELNOTE_TEST_EDITORS", editors.c_str());
    // Nothing at the default location: only the build's own key can lead to the editor.
    WriteFileBytes(settingsFile_, "[Options]\r\n" + build.otherKey + "=C:\\nowhere\\Velnote.exe\r\n" + build.ownKey +
                                      "=%VELNOTE_TEST_EDITORS%\\Velnote.exe\r\n");
    MessageBoxWatcher boxes;
    HWND container = Open(file_);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(log_->ProcessIds().size(), 1u);
    EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{});

    // The other build's key alone names an existing editor, but this build looks at its default.
    WriteFileBytes(settingsFile_,
                   "[Options]\r\n" + build.otherKey + "=" + std::string(editors.begin(), editors.end()) + "\\Velnote.exe\r\n");
    EXPECT_EQ(Open(file_), nullptr);
    EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"I can't find the " + plugin_.directory + build.defaultEditor +
                                                       L" in the path specified in the file velnote.ini"});
    EXPECT_EQ(log_->ProcessIds().size(), 1u);
}

TEST_F(Settings, MissingEditorIsReportedAndNothingStarts) {
    SetTestEnvironment(L"VELNOTE_TEST_EDITORS", (files_ + L"elsewhere").c_str());
    // An editor at a path of 259 characters, the most a path may have. Values that are longer,
    // as read or as expanded, would name it when cut short to 259: they must not start it.
    const std::wstring longEditor = MakeDirectoryOfLength(files_, 259 - wcslen(L"\\Velnote.exe")) + L"\\Velnote.exe";
    InstallStandInEditorAt(longEditor);
    SetTestEnvironment(L"VELNOTE_TEST_LONG", (longEditor + L"x").c_str());
    const std::string key = "[Options]\r\n" + ThisBuild().ownKey + "=";
    struct Row {
        std::string settings;  // empty: no settings file yet
        std::wstring shownPath;
    };
    const Row rows[] = {
        {"", plugin_.directory + ThisBuild().defaultEditor},
        {"[Options]\r\n", plugin_.directory + ThisBuild().defaultEditor},
        {key + "\r\n", L""},  // two blanks between "the" and "in"
        {key + "%VELNOTE_TEST_EDITORS%\\Velnote.exe\r\n", files_ + L"elsewhere\\Velnote.exe"},
        {key + "C:\\no such folder\\Velnote.exe\r\n", L"C:\\no such folder\\Velnote.exe"},
        {key + ToUtf8(longEditor) + "x\r\n", longEditor + L"x"},                          // 260 as read
        {key + ToUtf8(longEditor) + std::string(300, 'x') + "\r\n", longEditor + std::wstring(300, L'x')},
        {key + "%VELNOTE_TEST_LONG%\r\n", L"%VELNOTE_TEST_LONG%"},                          // 260 once expanded
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.settings.empty() ? "(no settings file)" : row.settings);
        DeleteFileW(settingsFile_.c_str());
        if (!row.settings.empty())
            WriteFileBytes(settingsFile_, row.settings);
        MessageBoxWatcher boxes;
        EXPECT_EQ(Open(file_), nullptr);
        std::vector<SeenMessageBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), 1u);
        // The message is formatted into the plug-in's text buffer of 260 characters.
        std::wstring message = L"I can't find the " + row.shownPath + L" in the path specified in the file velnote.ini";
        EXPECT_EQ(seen[0].text, message.substr(0, 259));
        EXPECT_EQ(seen[0].caption, L"Error");
        EXPECT_EQ(seen[0].owner, nullptr);
        EXPECT_TRUE(seen[0].errorIcon);
        EXPECT_EQ(ChildrenOf(host_.lister), std::vector<HWND>{}) << "no container window";
        EXPECT_EQ(FindWindowW(L"Velnote4", nullptr), nullptr);
        EXPECT_EQ(log_->Lines(), std::vector<std::string>{}) << "no editor started";
    }
    EXPECT_EQ(RunningStandInProcesses(), std::vector<DWORD>{});
    SetTestEnvironment(L"VELNOTE_TEST_LONG", nullptr);
}

// The plug-in's folder comes from its own file name, read into 260 characters. At 259 the
// settings file still fits but the default editor path does not: a missing key is then
// reported with an empty path. At 260 and beyond the name comes back cut short and the load
// is declined before the settings file is touched (a folder too long for "velnote.ini" is
// always one too long for the plug-in's own name, which is as long or longer). In each row
// an editor waits where a cut-short path would lead.
TEST_F(Settings, APluginFolderTooLongForItsOwnFilesIsDeclinedOrReported) {
    UnloadPlugin(plugin_);
    struct Row {
        size_t moduleChars;
        std::vector<std::wstring> messages;
    };
    const Row rows[] = {
        {259, {L"I can't find the  in the path specified in the file velnote.ini"}},
        {260, {}},
        {300, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.moduleChars);
        const std::wstring directory =
            MakeDirectoryOfLength(files_, row.moduleChars - wcslen(kPluginFileName) - 1) + L"\\";
        const std::wstring modulePath = directory + kPluginFileName;
        ASSERT_EQ(modulePath.size(), row.moduleChars);
        const std::wstring cut = modulePath.substr(0, 260);
        const std::wstring cutDirectory = cut.substr(0, cut.rfind(L'\\') + 1);
        const std::wstring defaultEditor = directory + ThisBuild().defaultEditor;
        InstallStandInEditorAt(row.moduleChars < 260 ? defaultEditor.substr(0, 259) : cutDirectory + ThisBuild().defaultEditor);

        plugin_ = LoadPluginCopy(directory);
        ASSERT_NE(plugin_.module, nullptr);
        MessageBoxWatcher boxes;
        EXPECT_EQ(Open(file_), nullptr);
        EXPECT_EQ(boxes.Texts(), row.messages);
        EXPECT_EQ(GetFileAttributesW((directory + L"velnote.ini").c_str()) != INVALID_FILE_ATTRIBUTES, row.moduleChars < 260);
        if (cutDirectory != directory) {
            EXPECT_EQ(GetFileAttributesW((cutDirectory + L"velnote.ini").c_str()), INVALID_FILE_ATTRIBUTES);
        }
        EXPECT_EQ(ChildrenOf(host_.lister), std::vector<HWND>{}) << "no container window";
        UnloadPlugin(plugin_);
    }
    EXPECT_EQ(log_->Lines(), std::vector<std::string>{}) << "no editor started";
}

TEST_F(Settings, DirectoriesAndMissingFilesAreDeclinedBeforeTheSettingsFile) {
    InstallStandInEditor(plugin_.directory);
    MessageBoxWatcher boxes;
    const std::wstring names[] = {files_, files_.substr(0, files_.size() - 1), files_ + L"missing.txt", L""};
    for (const std::wstring& name : names) {
        SCOPED_TRACE(testing::Message() << std::string(name.begin(), name.end()));
        EXPECT_EQ(Open(name), nullptr);
    }
    PumpFor(100);
    EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{});
    EXPECT_FALSE(SettingsFileExists());
    EXPECT_EQ(ChildrenOf(host_.lister), std::vector<HWND>{});
    EXPECT_EQ(log_->Lines(), std::vector<std::string>{});
}

}  // namespace
