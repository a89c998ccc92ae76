// The detect string and the ANSI entry point, through the real exports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/iat.h"
#include "support/plugin.h"

namespace {

constexpr size_t kDetectLength = 1130;

// Written out independently of the plug-in's compile-time builder.
std::string ExpectedDetectString() {
    const char* extensions =
        "1C ASM ASP AU3 AXL BAS BAT C++ C CC CODER CMD CP CPP CS CSPROJ CSS CSX CU CXX DPR DPROJ DPROJ.LOCAL DXL FRM "
        "GROUPPROJ H HH HPP HTA HTM HTML HXX I IDL II INF INI IPR ISS JAVA JS JSON KML LESS LPI LUA MANIFEST MSC NDL "
        "NSH NSI PAS PHP PHP3 PHP3_FOR_CODER PL PLS PLIST PLX PM PROPERTIES PRL PY PYW RC RDF REG RESX RSS SHTML SQL "
        "SVG TLH TLI TVSCONFIG TXT URL USER VB VB5 VBPROJ VBS VCPROJ VCXPROJ VDPROJ WBT WSDL WIXLIB WIXMSP WIXMST "
        "WIXOBJ WIXOUT WIXPDB WXI WXL WXS XAML XML XMP XSD XSL XSLT XUL";
    std::string text = "MULTIMEDIA & (";
    std::string extension;
    int count = 0;
    for (const char* c = extensions;; ++c) {
        if (*c == ' ' || *c == '\0') {
            text += (count++ ? "|EXT=\"" : "EXT=\"") + extension + "\"";
            extension.clear();
            if (*c == '\0')
                break;
        } else {
            extension += *c;
        }
    }
    EXPECT_EQ(count, 104);
    return text + ")";
}

class ListerEntry : public testing::Test {
protected:
    void SetUp() override { plugin_ = LoadPluginCopy(); ASSERT_NE(plugin_.module, nullptr); }
    void TearDown() override { UnloadPlugin(plugin_); }
    Plugin plugin_;
};

TEST_F(ListerEntry, DetectStringIsCompleteInABufferOfExactly1131Bytes) {
    std::vector<char> buffer(1131 + 16, 'x');
    plugin_.listGetDetectString(buffer.data(), 1131);
    std::string text(buffer.data());
    EXPECT_EQ(text.size(), kDetectLength);
    EXPECT_EQ(text, ExpectedDetectString());
    EXPECT_EQ(text.rfind("MULTIMEDIA & (EXT=\"1C\"|EXT=\"ASM\"|", 0), 0u);
    for (const char* outOfOrder : {"EXT=\"C++\"|EXT=\"C\"|", "EXT=\"CODER\"|EXT=\"CMD\"|", "EXT=\"PLS\"|EXT=\"PLIST\"|",
                                   "EXT=\"PROPERTIES\"|EXT=\"PRL\"|", "EXT=\"WSDL\"|EXT=\"WIXLIB\"|"})
        EXPECT_NE(text.find(outOfOrder), std::string::npos) << outOfOrder;
    EXPECT_EQ(text.substr(text.size() - 10), "EXT=\"XUL\")");
    EXPECT_EQ(std::string(buffer.begin() + 1131, buffer.end()), std::string(16, 'x')) << "written past the terminator";
}

TEST_F(ListerEntry, DetectStringIsNeverCutShort) {
    for (int size : {1130, 100, 1}) {
        SCOPED_TRACE(size);
        std::vector<char> buffer(1200, 'x');
        plugin_.listGetDetectString(buffer.data(), size);
        EXPECT_EQ(buffer[0], '\0') << "a buffer with room for an empty string gets one";
        EXPECT_EQ(std::string(buffer.begin() + 1, buffer.end()), std::string(1199, 'x'));
    }
    for (int size : {0, -1, -1131}) {
        SCOPED_TRACE(size);
        std::vector<char> buffer(1200, 'x');
        plugin_.listGetDetectString(buffer.data(), size);
        EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(1200, 'x'));
    }
    plugin_.listGetDetectString(nullptr, 1131);  // must not crash
    plugin_.listGetDetectString(nullptr, 0);
}

// ListLoadW's first look at the file is GetFileAttributesW on the name it was given.
std::vector<std::wstring> gAttributeQueries;
DWORD WINAPI RecordGetFileAttributes(LPCWSTR name) {
    gAttributeQueries.push_back(name);
    return INVALID_FILE_ATTRIBUTES;
}

TEST_F(ListerEntry, AnsiLoadConvertsTheNameAndForwards) {
    ScopedImport fake(plugin_.module, "KERNEL32.dll", "GetFileAttributesW",
                      reinterpret_cast<void*>(&RecordGetFileAttributes));
    gAttributeQueries.clear();
    char name[] = "C:\\files\\caf\xE9.txt";  // e acute in code page 1252, the prefix's ANSI code page
    EXPECT_EQ(plugin_.listLoad(nullptr, name, 0x7), nullptr);
    ASSERT_EQ(gAttributeQueries.size(), 1u);
    EXPECT_EQ(gAttributeQueries[0], L"C:\\files\\caf\u00E9.txt");
}

TEST_F(ListerEntry, AnsiLoadDeclinesEmptyAndOverlongNames) {
    ScopedImport fake(plugin_.module, "KERNEL32.dll", "GetFileAttributesW",
                      reinterpret_cast<void*>(&RecordGetFileAttributes));
    gAttributeQueries.clear();
    char empty[] = "";
    EXPECT_EQ(plugin_.listLoad(nullptr, empty, 0), nullptr);

    std::string longest(259, 'a');  // with its terminator, exactly the 260 characters of the buffer
    EXPECT_EQ(plugin_.listLoad(nullptr, longest.data(), 0), nullptr);
    std::string tooLong(260, 'a');
    EXPECT_EQ(plugin_.listLoad(nullptr, tooLong.data(), 0), nullptr);

    ASSERT_EQ(gAttributeQueries.size(), 2u) << "the over-long name must not reach ListLoadW";
    EXPECT_EQ(gAttributeQueries[0], L"");
    EXPECT_EQ(gAttributeQueries[1], std::wstring(259, L'a'));
}

}  // namespace
