// The detect string and the ANSI entry point, through the real exports.
#include <gtest/gtest.h>

#include <cstdint>
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

#ifndef _WIN64
// Calls function with count 32-bit arguments the way a host calls a stdcall export: it pushes
// them right to left and, after the call, leaves the stack as the callee left it. Returns how
// many bytes the callee removed; *result receives what it returned in eax.
extern "C" uint32_t CallAsStdcallCaller(const void* function, const uint32_t* args, uint32_t count, uint32_t* result);
asm(R"(
    .text
    .globl _CallAsStdcallCaller
_CallAsStdcallCaller:
    push %ebp
    mov %esp, %ebp
    push %ebx
    push %esi
    push %edi
    mov 12(%ebp), %esi
    mov 16(%ebp), %ecx
1:  test %ecx, %ecx
    jz 2f
    dec %ecx
    push (%esi,%ecx,4)
    jmp 1b
2:  mov %esp, %edi
    call *8(%ebp)
    mov 20(%ebp), %ecx
    mov %eax, (%ecx)
    mov %esp, %eax
    sub %edi, %eax
    lea -12(%ebp), %esp
    pop %edi
    pop %esi
    pop %ebx
    pop %ebp
    ret
)");

// A cdecl export would leave its arguments on the host's stack, and the host's frame would
// slide with every call; each export must remove exactly its own.
TEST_F(ListerEntry, EachExportRemovesItsOwnArgumentsFromTheStack) {
    char detect[1131] = {};
    char emptyAnsi[] = "";
    wchar_t emptyWide[] = L"";
    // A window without a child stands for a container whose editor has ended: each command
    // declines at once, and ListCloseWindow, last, destroys it.
    HWND empty = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(empty, nullptr);
    auto word = [](const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); };
    struct Row {
        const char* name;
        std::vector<uint32_t> args;
        int result;  // -1: no result, eax is not looked at
    };
    const Row rows[] = {
        {"ListGetDetectString", {word(detect), sizeof detect}, -1},
        {"ListLoad", {0, word(emptyAnsi), 0}, 0},
        {"ListLoadW", {0, word(emptyWide), 0}, 0},
        {"ListPrint", {word(empty), word(emptyAnsi), word(emptyAnsi), 0, 0}, 1},
        {"ListSearchText", {word(empty), word(emptyAnsi), 1}, 1},
        {"ListSearchTextW", {word(empty), word(emptyWide), 1}, 1},
        {"ListSendCommand", {word(empty), 1, 0}, 1},
        {"ListCloseWindow", {word(empty)}, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const void* function = reinterpret_cast<const void*>(GetProcAddress(plugin_.module, row.name));
        ASSERT_NE(function, nullptr);
        uint32_t result = 0xDEADBEEF;
        const uint32_t count = static_cast<uint32_t>(row.args.size());
        EXPECT_EQ(CallAsStdcallCaller(function, row.args.data(), count, &result), 4 * count);
        if (row.result >= 0) {
            EXPECT_EQ(result, static_cast<uint32_t>(row.result));
        }
    }
    EXPECT_EQ(std::string(detect).size(), kDetectLength);
    EXPECT_FALSE(IsWindow(empty));
}
#endif

}  // namespace
