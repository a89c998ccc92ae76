// Both shipped plug-in files, read as PE files: what the host and the system rely on in
// them, checked in their bytes side by side so that the two stay alike. (Both builds also
// run the behaviour tests, each from test programs of its own bitness.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/pe_image.h"
#include "support/plugin.h"

namespace {

struct Build {
    const char* label;
    std::wstring path;
    uint16_t machine;
    uint16_t optionalMagic;
    const char* fileName;
    bool is64;
};

// The lister functions in alphabetical order, which is also their ordinal order, with the
// argument bytes each 32-bit export removes from the stack.
struct ExpectedExport {
    const char* name;
    unsigned argumentBytes;
};
constexpr ExpectedExport kExports[] = {
    {"ListCloseWindow", 4}, {"ListGetDetectString", 8}, {"ListLoad", 12},       {"ListLoadW", 12},
    {"ListPrint", 20},      {"ListSearchText", 12},     {"ListSearchTextW", 12}, {"ListSendCommand", 12},
};

constexpr size_t kMaxFileBytes = 48 * 1024;
constexpr size_t kDetectStringBytes = 1131;  // with its terminator
constexpr char kDetectStringOpening[] = "MULTIMEDIA & (";

std::string Wlx32File() { return VELNOTE_WLX32; }

// The linker writes its map next to the 32-bit file.
std::string Wlx32MapFile() {
    std::string file = Wlx32File();
    return file.substr(0, file.find_last_of('/') + 1) + "Velnote.map";
}

std::vector<Build> Builds() {
    return {
        {"Velnote.wlx (32-bit)", Wlx32File().empty() ? L"" : WindowsPath(Wlx32File()), IMAGE_FILE_MACHINE_I386,
         IMAGE_NT_OPTIONAL_HDR32_MAGIC, "Velnote.wlx", false},
        {"Velnote.wlx64 (64-bit)", BuiltPluginFile(), IMAGE_FILE_MACHINE_AMD64, IMAGE_NT_OPTIONAL_HDR64_MAGIC,
         "Velnote.wlx64", true},
    };
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

class PeStructure : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Wlx32File().empty()) << "VELNOTE_WLX32 names no 32-bit plug-in file";
        for (const Build& build : Builds()) {
            PeImage image = ReadPeImage(build.path);
            // A missing or broken file fails every test instead of skipping it.
            EXPECT_EQ(image.error, "") << build.label << ": " << ToUtf8(build.path);
            rows_.push_back({build, image});
        }
    }

    struct Row {
        Build build;
        PeImage image;
    };
    // The rows whose file could be read; the others already failed in SetUp.
    std::vector<Row> ReadableRows() const {
        std::vector<Row> rows;
        for (const Row& row : rows_)
            if (row.image.error.empty())
                rows.push_back(row);
        return rows;
    }
    const Row& Row32() const { return rows_[0]; }

    std::vector<Row> rows_;
};

TEST_F(PeStructure, MachineTypeAndDllFlag) {
    for (const Row& row : ReadableRows()) {
        SCOPED_TRACE(row.build.label);
        EXPECT_EQ(row.image.machine, row.build.machine);
        EXPECT_EQ(row.image.optionalMagic, row.build.optionalMagic);
        EXPECT_TRUE(row.image.fileCharacteristics & IMAGE_FILE_DLL);
        EXPECT_TRUE(row.image.fileCharacteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
    }
}

TEST_F(PeStructure, AddressRandomisationAndDataExecutionPrevention) {
    for (const Row& row : ReadableRows()) {
        SCOPED_TRACE(row.build.label);
        EXPECT_TRUE(row.image.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
        EXPECT_TRUE(row.image.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
        if (row.build.is64) {
            EXPECT_TRUE(row.image.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
        }
        // Without relocations the loader cannot move the image, whatever the flag says.
        ASSERT_GT(row.image.directories.size(), size_t{IMAGE_DIRECTORY_ENTRY_BASERELOC});
        EXPECT_GT(row.image.directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
    }
}

TEST_F(PeStructure, ExportsExactlyTheEightListerFunctionsInOrdinalOrder) {
    for (const Row& row : ReadableRows()) {
        SCOPED_TRACE(row.build.label);
        PeExports exports = ReadExports(row.image);
        EXPECT_EQ(exports.moduleName, row.build.fileName);
        EXPECT_EQ(exports.functionCount, std::size(kExports)) << "exports by ordinal only, or gaps";
        ASSERT_EQ(exports.named.size(), std::size(kExports));
        for (size_t i = 0; i < std::size(kExports); ++i) {
            SCOPED_TRACE(kExports[i].name);
            EXPECT_EQ(exports.named[i].name, kExports[i].name);
            EXPECT_EQ(exports.named[i].ordinal, i + 1);
            // A forwarder or a data export would point outside the code.
            const PeSection* section = SectionOf(row.image, exports.named[i].rva);
            ASSERT_NE(section, nullptr);
            EXPECT_TRUE(section->characteristics & IMAGE_SCN_MEM_EXECUTE) << section->name;
        }
    }
}

// --- The 32-bit exports' stack clean-up -------------------------------------------------

// The symbols and input sections of the linker map, by address. The map prints symbols
// demangled and without the leading underscore of i386 names: `ListLoadW@12`.
struct LinkerMap {
    std::multimap<uint64_t, std::string> symbols;
    std::multimap<uint64_t, uint64_t> sectionSizes;
};

bool IsHex(const std::string& token) { return token.size() > 2 && token.compare(0, 2, "0x") == 0; }

LinkerMap ReadLinkerMap(const std::string& text) {
    LinkerMap map;
    size_t start = text.find("Linker script and memory map");
    std::istringstream lines(text.substr(start == std::string::npos ? 0 : start));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] != ' ')
            continue;  // output sections and script statements start in the first column
        std::istringstream in(line);
        std::vector<std::string> tokens;
        for (std::string token; in >> token && tokens.size() < 3;)
            tokens.push_back(token);
        size_t first = tokens.size() > 0 && IsHex(tokens[0]) ? 0 : 1;  // ` .text$Name  0x... 0x... object`
        if (tokens.size() < first + 2 || !IsHex(tokens[first]))
            continue;
        uint64_t address = std::stoull(tokens[first], nullptr, 16);
        if (IsHex(tokens[first + 1])) {
            map.sectionSizes.insert({address, std::stoull(tokens[first + 1], nullptr, 16)});
        } else if (first == 0) {
            size_t name = line.find(tokens[1]);
            map.symbols.insert({address, line.substr(name, line.find_last_not_of(" \r") + 1 - name)});
        }
    }
    return map;
}

// The argument bytes in a stdcall decoration (`Name@12`, `_imp__Name@12`), or -1.
int DecorationBytes(const std::string& symbol) {
    size_t at = symbol.rfind('@');
    if (at == std::string::npos || at + 1 == symbol.size() ||
        symbol.find_first_not_of("0123456789", at + 1) != std::string::npos)
        return -1;
    return std::stoi(symbol.substr(at + 1));
}

std::string SymbolsAt(const LinkerMap& map, uint64_t address) {
    std::string names;
    auto [begin, end] = map.symbols.equal_range(address);
    for (auto it = begin; it != end; ++it)
        names += (names.empty() ? "" : ", ") + it->second;
    return names.empty() ? "(no symbol)" : names;
}

// The one stack clean-up that the symbols at an address declare, or -1.
int DeclaredBytesAt(const LinkerMap& map, uint64_t address) {
    auto [begin, end] = map.symbols.equal_range(address);
    for (auto it = begin; it != end; ++it)
        if (DecorationBytes(it->second) >= 0)
            return DecorationBytes(it->second);
    return -1;
}

// The smallest input section that starts at an address: with one section per function,
// the function's own bytes.
uint64_t FunctionSize(const LinkerMap& map, uint64_t address) {
    uint64_t size = 0;
    auto [begin, end] = map.sectionSizes.equal_range(address);
    for (auto it = begin; it != end; ++it)
        if (it->second > 0 && (size == 0 || it->second < size))
            size = it->second;
    return size;
}

class PeStructureMap : public PeStructure {
protected:
    void SetUp() override {
        PeStructure::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(Row32().image.error.empty());
        std::string text = ReadFileBytes(WindowsPath(Wlx32MapFile()));
        ASSERT_FALSE(text.empty()) << "no linker map at " << Wlx32MapFile();
        map_ = ReadLinkerMap(text);
        exports_ = ReadExports(Row32().image);
        ASSERT_EQ(exports_.named.size(), std::size(kExports));
    }
    uint64_t ExportAddress(size_t i) const { return Row32().image.imageBase + exports_.named[i].rva; }

    LinkerMap map_;
    PeExports exports_;
};

// The compiler names a function `Name@N` only when it removes N argument bytes itself; a
// cdecl function keeps its plain name and leaves them to the caller.
TEST_F(PeStructureMap, Each32BitExportIsTheStdcallSymbolOfItsArgumentBytes) {
    for (size_t i = 0; i < std::size(kExports); ++i) {
        SCOPED_TRACE(kExports[i].name);
        uint64_t address = ExportAddress(i);
        std::set<std::string> expected = {std::string(kExports[i].name) + "@" + std::to_string(kExports[i].argumentBytes)};
        expected.insert("_" + *expected.begin());
        bool found = false;
        auto [begin, end] = map_.symbols.equal_range(address);
        for (auto it = begin; it != end; ++it)
            found = found || expected.count(it->second);
        EXPECT_TRUE(found) << "symbols at the export's address 0x" << std::hex << address << ": "
                           << SymbolsAt(map_, address);
    }
}

// Every way out of an export's code: its own returns, and jumps out of it (tail calls)
// into a function or an import whose decoration says what it removes.
struct Exits {
    std::set<int> cleanUps;            // bytes removed on each way out found
    std::vector<std::string> faults;   // plain returns, undecodable bytes, unknown jump targets
};

Exits FindExits(const PeImage& image, const LinkerMap& map, uint64_t address, uint64_t size) {
    Exits exits;
    uint32_t rva = static_cast<uint32_t>(address - image.imageBase);
    std::string code = BytesAt(image, rva, size);
    if (code.size() != size) {
        exits.faults.push_back("code not in the file");
        return exits;
    }
    auto bytes = reinterpret_cast<const uint8_t*>(code.data());
    auto fault = [&](size_t at, const std::string& what) {
        std::ostringstream text;
        text << "+0x" << std::hex << at << ": " << what;
        exits.faults.push_back(text.str());
    };
    auto leave = [&](size_t at, uint64_t target, const std::string& how) {
        if (target >= address && target < address + size)
            return;  // a branch inside the function
        int removed = DeclaredBytesAt(map, target);
        if (removed < 0)
            fault(at, how + " to " + SymbolsAt(map, target) + ", whose stack clean-up is unknown");
        else
            exits.cleanUps.insert(removed);
    };
    for (size_t at = 0; at < size;) {
        size_t length = X86InstructionLength(bytes + at, size - at);
        if (length == 0) {
            fault(at, "cannot decode");
            return exits;
        }
        size_t op = at;
        while (op < at + length - 1 && std::strchr("\x66\x67\xF0\xF2\xF3\x26\x2E\x36\x3E\x64\x65", bytes[op]))
            ++op;
        uint64_t next = address + at + length;
        auto rel32At = [&](size_t from) {
            int32_t value = 0;
            std::memcpy(&value, bytes + from, 4);
            return value;
        };
        uint8_t opcode = bytes[op];
        if (opcode == 0xC3 || opcode == 0xCB) {
            fault(at, "return that leaves the arguments to the caller");
        } else if (opcode == 0xC2 || opcode == 0xCA) {
            exits.cleanUps.insert(bytes[op + 1] | bytes[op + 2] << 8);
        } else if (opcode == 0xEB || (opcode >= 0x70 && opcode <= 0x7F)) {
            leave(at, next + static_cast<int8_t>(bytes[op + 1]), "jump");
        } else if (opcode == 0xE9) {
            leave(at, next + rel32At(op + 1), "jump");
        } else if (opcode == 0x0F && bytes[op + 1] >= 0x80 && bytes[op + 1] <= 0x8F) {
            leave(at, next + rel32At(op + 2), "jump");
        } else if (opcode == 0xFF && ((bytes[op + 1] >> 3) & 7) >= 4 && ((bytes[op + 1] >> 3) & 7) <= 5) {
            uint8_t modrm = bytes[op + 1];
            if (modrm == 0x25) {  // jmp [slot]: a tail call through the import address table
                uint32_t slot = 0;
                std::memcpy(&slot, bytes + op + 2, 4);
                leave(at, slot, "jump through an import");
            } else if ((modrm & 0xC7) == 0x04 && ((modrm >> 3) & 7) == 4 && (bytes[op + 2] & 7) == 5) {
                // jmp [table + index * scale]: a switch over targets inside the function
            } else {
                fault(at, "indirect jump whose target cannot be read from the file");
            }
        }
        at += length;
    }
    return exits;
}

// Independent of the names: the code itself removes the bytes on every way out. A cdecl
// export would end in a plain `ret` (C3) instead of `ret N` (C2 N 00).
TEST_F(PeStructureMap, Each32BitExportRemovesItsArgumentBytesOnEveryWayOut) {
    for (size_t i = 0; i < std::size(kExports); ++i) {
        SCOPED_TRACE(kExports[i].name);
        uint64_t address = ExportAddress(i);
        uint64_t size = FunctionSize(map_, address);
        ASSERT_GT(size, 0u) << "no section for the export in the linker map";
        Exits exits = FindExits(Row32().image, map_, address, size);
        for (const std::string& fault : exits.faults)
            ADD_FAILURE() << fault;
        EXPECT_EQ(exits.cleanUps, std::set<int>{static_cast<int>(kExports[i].argumentBytes)});
    }
}

// --- Imports, resources, contents ------------------------------------------------------

bool IsSystemDll(const std::string& dll) {
    static const char* const kSystemDlls[] = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll",
                                              "gdi32.dll",    "shell32.dll", "shlwapi.dll", "ucrtbase.dll"};
    std::string name = Lower(dll);
    return name.rfind("api-ms-win-", 0) == 0 ||
           std::find(std::begin(kSystemDlls), std::end(kSystemDlls), name) != std::end(kSystemDlls);
}

TEST_F(PeStructure, ImportsOnlyWindowsSystemDlls) {
    for (const Row& row : ReadableRows()) {
        SCOPED_TRACE(row.build.label);
        std::vector<std::string> dlls = ReadImportedDlls(row.image);
        EXPECT_FALSE(dlls.empty());
        for (const std::string& dll : dlls)
            EXPECT_TRUE(IsSystemDll(dll)) << dll << " is not a Windows system DLL (a runtime left unlinked?)";
        // A delay-loaded DLL would escape the list above.
        if (row.image.directories.size() > IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT) {
            EXPECT_EQ(row.image.directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u);
        }
    }
}

TEST_F(PeStructure, BothFilesImportTheSameDlls) {
    std::vector<Row> rows = ReadableRows();
    ASSERT_EQ(rows.size(), 2u);
    std::set<std::string> dlls[2];
    for (int i = 0; i < 2; ++i)
        for (const std::string& dll : ReadImportedDlls(rows[i].image))
            dlls[i].insert(Lower(dll));
    EXPECT_EQ(dlls[0], dlls[1]);
}

std::vector<PeResource> ResourcesOfType(const PeImage& image, uint32_t type) {
    std::vector<PeResource> found;
    for (const PeResource& resource : ReadResources(image))
        if (resource.type == type)
            found.push_back(resource);
    return found;
}

TEST_F(PeStructure, VersionResourceSays1_24_0_0) {
    for (const Row& row : ReadableRows()) {
        SCOPED_TRACE(row.build.label);
        std::vector<PeResource> versions = ResourcesOfType(row.image, 16);  // RT_VERSION
        ASSERT_EQ(versions.size(), 1u);
        EXPECT_EQ(versions[0].id, 1u);
        std::string error;
        PeVersionInfo info = ParseVersionInfo(versions[0].data, error);
        ASSERT_EQ(error, "");
        EXPECT_EQ(info.fixed.dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(info.fixed.dwFileVersionMS, (1u << 16) | 24u);
        EXPECT_EQ(info.fixed.dwFileVersionLS, 0u);
        EXPECT_EQ(info.fixed.dwProductVersionMS, (1u << 16) | 24u);
        EXPECT_EQ(info.fixed.dwProductVersionLS, 0u);
        EXPECT_EQ(info.fixed.dwFileType, static_cast<DWORD>(VFT_DLL));
        EXPECT_EQ(info.strings[L"FileVersion"], L"1.24.0.0");
        EXPECT_EQ(info.strings[L"ProductVersion"], L"1.24.0.0");
        EXPECT_EQ(ToUtf8(info.strings[L"OriginalFilename"]), row.build.fileName);
        for (const wchar_t* key : {L"FileDescription", L"ProductName", L"CompanyName"})
            EXPECT_NE(info.strings[key], L"") << ToUtf8(key);
    }
}

TEST_F(PeStructure, ManifestRequestsExecutionLevelAsInvoker) {
    for (const Row& row : ReadableRows()) {
        SCOPED_TRACE(row.build.label);
        std::vector<PeResource> manifests = ResourcesOfType(row.image, 24);  // RT_MANIFEST
        ASSERT_EQ(manifests.size(), 1u);
        EXPECT_EQ(manifests[0].id, 2u) << "a DLL's manifest is read from resource 2";
        const std::string& xml = manifests[0].data;
        size_t tag = xml.find("<requestedExecutionLevel");
        ASSERT_NE(tag, std::string::npos) << xml;
        std::string element = xml.substr(tag, xml.find('>', tag) - tag);
        EXPECT_TRUE(element.find("level=\"asInvoker\"") != std::string::npos ||
                    element.find("level='asInvoker'") != std::string::npos)
            << element;
    }
}

TEST_F(PeStructure, DetectStringBytesAreTheSameInBothFiles) {
    std::vector<Row> rows = ReadableRows();
    ASSERT_EQ(rows.size(), 2u);
    std::string detect[2];
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(rows[i].build.label);
        size_t at = rows[i].image.bytes.find(kDetectStringOpening);
        ASSERT_NE(at, std::string::npos);
        detect[i] = rows[i].image.bytes.substr(at, kDetectStringBytes);
        ASSERT_EQ(detect[i].size(), kDetectStringBytes);
        EXPECT_EQ(detect[i].find('\0'), kDetectStringBytes - 1) << "cut short, or not terminated where expected";
        EXPECT_EQ(detect[i][kDetectStringBytes - 2], ')');
    }
    EXPECT_EQ(detect[0], detect[1]);
}

TEST_F(PeStructure, EachFileIsAtMost48KiB) {
    for (const Row& row : ReadableRows()) {
        SCOPED_TRACE(row.build.label);
        EXPECT_LE(row.image.bytes.size(), kMaxFileBytes);
    }
}

TEST_F(PeStructure, ReleaseFilesAreStripped) {
    for (const Row& row : ReadableRows()) {
        SCOPED_TRACE(row.build.label);
        EXPECT_EQ(row.image.symbolTableOffset, 0u);
        EXPECT_EQ(row.image.symbolCount, 0u);
        // DWARF sections carry long names, which live in the symbol table's strings as "/N".
        for (const PeSection& section : row.image.sections)
            EXPECT_TRUE(section.name.rfind(".debug", 0) != 0 && section.name.rfind("/", 0) != 0) << section.name;
    }
}

}  // namespace
