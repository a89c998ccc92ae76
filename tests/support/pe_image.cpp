#include "support/pe_image.h"

#include <algorithm>
#include <cstring>

#include "support/plugin.h"

template <typename T>
static bool ReadAt(const std::string& bytes, size_t offset, T& value) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        return false;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return true;
}

template <typename T>
static bool ReadRva(const PeImage& image, uint32_t rva, T& value) {
    size_t offset = RvaToOffset(image, rva);
    return offset != SIZE_MAX && ReadAt(image.bytes, offset, value);
}

static std::string CStringAt(const PeImage& image, uint32_t rva) {
    size_t offset = RvaToOffset(image, rva);
    if (offset == SIZE_MAX)
        return {};
    size_t end = image.bytes.find('\0', offset);
    return image.bytes.substr(offset, end == std::string::npos ? std::string::npos : end - offset);
}

static const IMAGE_DATA_DIRECTORY* Directory(const PeImage& image, size_t index) {
    if (index >= image.directories.size() || image.directories[index].VirtualAddress == 0)
        return nullptr;
    return &image.directories[index];
}

// The two optional-header layouts differ only in the width of a few fields; everything
// this reader needs sits at the offsets below.
static void ReadOptionalHeader(PeImage& image, size_t offset, size_t size) {
    ReadAt(image.bytes, offset, image.optionalMagic);
    bool wide = image.optionalMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    if (image.optionalMagic != IMAGE_NT_OPTIONAL_HDR32_MAGIC && !wide) {
        image.error = "unknown optional header magic";
        return;
    }
    size_t directoriesAt = wide ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    size_t countAt = wide ? offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes)
                          : offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
    if (size < directoriesAt) {
        image.error = "optional header too short";
        return;
    }
    if (wide) {
        ReadAt(image.bytes, offset + offsetof(IMAGE_OPTIONAL_HEADER64, ImageBase), image.imageBase);
    } else {
        uint32_t base = 0;
        ReadAt(image.bytes, offset + offsetof(IMAGE_OPTIONAL_HEADER32, ImageBase), base);
        image.imageBase = base;
    }
    ReadAt(image.bytes, offset + (wide ? offsetof(IMAGE_OPTIONAL_HEADER64, DllCharacteristics)
                                       : offsetof(IMAGE_OPTIONAL_HEADER32, DllCharacteristics)),
           image.dllCharacteristics);
    uint32_t count = 0;
    ReadAt(image.bytes, offset + countAt, count);
    if (count > (size - directoriesAt) / sizeof(IMAGE_DATA_DIRECTORY)) {
        image.error = "more data directories than the optional header holds";
        return;
    }
    image.directories.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        ReadAt(image.bytes, offset + directoriesAt + i * sizeof(IMAGE_DATA_DIRECTORY), image.directories[i]);
}

PeImage ReadPeImage(const std::wstring& path) {
    PeImage image;
    image.bytes = ReadFileBytes(path);
    IMAGE_DOS_HEADER dos;
    if (!ReadAt(image.bytes, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        image.error = "no MZ header (missing or unreadable file?)";
        return image;
    }
    uint32_t signature = 0;
    IMAGE_FILE_HEADER file;
    size_t fileAt = static_cast<size_t>(dos.e_lfanew) + sizeof(signature);
    if (!ReadAt(image.bytes, dos.e_lfanew, signature) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(image.bytes, fileAt, file)) {
        image.error = "no PE header";
        return image;
    }
    image.machine = file.Machine;
    image.fileCharacteristics = file.Characteristics;
    image.symbolTableOffset = file.PointerToSymbolTable;
    image.symbolCount = file.NumberOfSymbols;
    size_t optionalAt = fileAt + sizeof(file);
    ReadOptionalHeader(image, optionalAt, file.SizeOfOptionalHeader);
    if (!image.error.empty())
        return image;
    size_t sectionAt = optionalAt + file.SizeOfOptionalHeader;
    for (unsigned i = 0; i < file.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER header;
        if (!ReadAt(image.bytes, sectionAt + i * sizeof(header), header)) {
            image.error = "section table cut short";
            return image;
        }
        PeSection section;
        section.name.assign(reinterpret_cast<const char*>(header.Name), strnlen(reinterpret_cast<const char*>(header.Name), 8));
        section.virtualAddress = header.VirtualAddress;
        section.virtualSize = header.Misc.VirtualSize;
        section.rawOffset = header.PointerToRawData;
        section.rawSize = header.SizeOfRawData;
        section.characteristics = header.Characteristics;
        image.sections.push_back(section);
    }
    return image;
}

const PeSection* SectionOf(const PeImage& image, uint32_t rva) {
    for (const PeSection& section : image.sections) {
        uint32_t extent = section.virtualSize ? section.virtualSize : section.rawSize;
        if (rva >= section.virtualAddress && rva - section.virtualAddress < extent)
            return &section;
    }
    return nullptr;
}

// SIZE_MAX when no section holds the address in the file.
size_t RvaToOffset(const PeImage& image, uint32_t rva) {
    const PeSection* section = SectionOf(image, rva);
    if (section == nullptr || rva - section->virtualAddress >= section->rawSize)
        return SIZE_MAX;  // not in the section's bytes on disk (zero-filled tail, or nowhere)
    size_t offset = static_cast<size_t>(section->rawOffset) + (rva - section->virtualAddress);
    return offset < image.bytes.size() ? offset : SIZE_MAX;
}

// Fewer bytes than asked for when the section's bytes on disk end first.
std::string BytesAt(const PeImage& image, uint32_t rva, size_t count) {
    size_t offset = RvaToOffset(image, rva);
    if (offset == SIZE_MAX)
        return {};
    const PeSection* section = SectionOf(image, rva);
    size_t inSection = section->rawSize - (rva - section->virtualAddress);
    return image.bytes.substr(offset, std::min(count, inSection));
}

PeExports ReadExports(const PeImage& image) {
    PeExports exports;
    const IMAGE_DATA_DIRECTORY* directory = Directory(image, IMAGE_DIRECTORY_ENTRY_EXPORT);
    IMAGE_EXPORT_DIRECTORY table;
    if (directory == nullptr || !ReadRva(image, directory->VirtualAddress, table))
        return exports;
    exports.moduleName = CStringAt(image, table.Name);
    exports.functionCount = table.NumberOfFunctions;
    for (uint32_t i = 0; i < table.NumberOfNames; ++i) {
        uint32_t nameRva = 0;
        uint16_t index = 0;
        uint32_t functionRva = 0;
        ReadRva(image, table.AddressOfNames + i * 4, nameRva);
        ReadRva(image, table.AddressOfNameOrdinals + i * 2, index);
        ReadRva(image, table.AddressOfFunctions + index * 4u, functionRva);
        exports.named.push_back({CStringAt(image, nameRva), table.Base + index, functionRva});
    }
    return exports;
}

std::vector<std::string> ReadImportedDlls(const PeImage& image) {
    std::vector<std::string> dlls;
    const IMAGE_DATA_DIRECTORY* directory = Directory(image, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (directory == nullptr)
        return dlls;
    for (uint32_t at = directory->VirtualAddress;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        if (!ReadRva(image, at, descriptor) || descriptor.Name == 0)
            break;
        dlls.push_back(CStringAt(image, descriptor.Name));
    }
    return dlls;
}

// Depth 0 is the type, 1 the name, 2 the language; a leaf carries the data entry.
static void ReadResourceLevel(const PeImage& image, uint32_t root, uint32_t tableOffset, int depth, uint32_t path[3],
                              std::vector<PeResource>& resources) {
    IMAGE_RESOURCE_DIRECTORY table;
    if (depth > 2 || !ReadRva(image, root + tableOffset, table))
        return;
    uint32_t count = table.NumberOfNamedEntries + table.NumberOfIdEntries;
    for (uint32_t i = 0; i < count; ++i) {
        IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
        if (!ReadRva(image, root + tableOffset + sizeof(table) + i * sizeof(entry), entry))
            return;
        if (entry.NameIsString)
            continue;
        path[depth] = entry.Id;
        if (entry.DataIsDirectory) {
            ReadResourceLevel(image, root, entry.OffsetToDirectory, depth + 1, path, resources);
            continue;
        }
        IMAGE_RESOURCE_DATA_ENTRY data;
        if (depth != 2 || !ReadRva(image, root + entry.OffsetToData, data))
            continue;
        resources.push_back({path[0], path[1], path[2], BytesAt(image, data.OffsetToData, data.Size)});
    }
}

std::vector<PeResource> ReadResources(const PeImage& image) {
    std::vector<PeResource> resources;
    const IMAGE_DATA_DIRECTORY* directory = Directory(image, IMAGE_DIRECTORY_ENTRY_RESOURCE);
    if (directory == nullptr)
        return resources;
    uint32_t path[3] = {};
    ReadResourceLevel(image, directory->VirtualAddress, 0, 0, path, resources);
    return resources;
}

// A version block: length, value length, type (1 text, 0 binary), a terminated key,
// padding to 4 bytes, the value, padding, then child blocks up to the length.
struct VersionBlock {
    std::wstring key;
    std::string value;
    std::vector<VersionBlock> children;
};

static size_t AlignTo4(size_t offset) { return (offset + 3) & ~size_t{3}; }

static bool ParseVersionBlock(const std::string& data, size_t at, VersionBlock& block, size_t& end) {
    uint16_t length = 0, valueLength = 0, type = 0;
    if (!ReadAt(data, at, length) || !ReadAt(data, at + 2, valueLength) || !ReadAt(data, at + 4, type) ||
        length < 6 || at + length > data.size())
        return false;
    end = at + length;
    size_t cursor = at + 6;
    for (wchar_t c; ReadAt(data, cursor, c) && cursor < end; cursor += 2) {
        if (c == L'\0')
            break;
        block.key += c;
    }
    cursor = AlignTo4(cursor + 2);
    size_t valueBytes = type == 1 ? valueLength * 2u : valueLength;  // text values count characters
    if (cursor + valueBytes > end)
        return false;
    block.value = data.substr(cursor, valueBytes);
    cursor = AlignTo4(cursor + valueBytes);
    while (cursor < end) {
        VersionBlock child;
        size_t childEnd = 0;
        if (!ParseVersionBlock(data, cursor, child, childEnd))
            return false;
        block.children.push_back(child);
        cursor = AlignTo4(childEnd);
    }
    return true;
}

// Sets `error` when the block's layout is broken.
PeVersionInfo ParseVersionInfo(const std::string& data, std::string& error) {
    PeVersionInfo info;
    VersionBlock root;
    size_t end = 0;
    if (!ParseVersionBlock(data, 0, root, end) || root.key != L"VS_VERSION_INFO") {
        error = "not a VS_VERSION_INFO block";
        return info;
    }
    if (root.value.size() != sizeof(VS_FIXEDFILEINFO)) {
        error = "no fixed file information";
        return info;
    }
    std::memcpy(&info.fixed, root.value.data(), sizeof(info.fixed));
    for (const VersionBlock& fileInfo : root.children) {
        if (fileInfo.key != L"StringFileInfo")
            continue;
        for (const VersionBlock& table : fileInfo.children) {
            for (const VersionBlock& string : table.children) {
                std::wstring text(reinterpret_cast<const wchar_t*>(string.value.data()), string.value.size() / 2);
                info.strings[string.key] = text.substr(0, text.find(L'\0'));
            }
        }
    }
    return info;
}

// Operand shapes of the one-byte opcodes, after the prefixes: enough of the 32-bit
// instruction set to walk compiler output, with nothing guessed: an opcode outside the
// table makes the walk fail instead of drifting.
namespace {
enum Operand : uint8_t {
    kNone = 0,
    kModRm = 1,
    kImm8 = 2,
    kImmZ = 4,     // 4 bytes, or 2 with an operand-size prefix
    kImm16 = 8,
    kMoffs = 16,   // 4 bytes, or 2 with an address-size prefix
    kFar = 32,     // offset and selector
    kGroup3 = 64,  // F6/F7: the immediate only for /0 and /1
    kInvalid = 128,
};
}

static uint8_t OneByteOperands(uint8_t op) {
    if (op < 0x40) {
        switch (op & 7) {
        case 0: case 1: case 2: case 3: return kModRm;
        case 4: return kImm8;
        case 5: return kImmZ;
        default: return kNone;  // push/pop of a segment register, daa, das, aaa, aas
        }
    }
    if (op < 0x60)
        return kNone;
    if (op >= 0x70 && op <= 0x7F)
        return kImm8;
    if (op >= 0x84 && op <= 0x8F)
        return kModRm;
    if (op >= 0x91 && op <= 0x99)
        return kNone;
    if (op >= 0xB0 && op <= 0xB7)
        return kImm8;
    if (op >= 0xB8 && op <= 0xBF)
        return kImmZ;
    if (op >= 0xD8 && op <= 0xDF)
        return kModRm;  // x87
    if (op >= 0xE0 && op <= 0xE7)
        return kImm8;
    switch (op) {
    case 0x60: case 0x61: return kNone;
    case 0x62: case 0x63: return kModRm;
    case 0x68: return kImmZ;
    case 0x69: return kModRm | kImmZ;
    case 0x6A: return kImm8;
    case 0x6B: return kModRm | kImm8;
    case 0x6C: case 0x6D: case 0x6E: case 0x6F: return kNone;
    case 0x80: case 0x82: case 0x83: return kModRm | kImm8;
    case 0x81: return kModRm | kImmZ;
    case 0x90: case 0x9B: case 0x9C: case 0x9D: case 0x9E: case 0x9F: return kNone;
    case 0x9A: case 0xEA: return kFar;
    case 0xA0: case 0xA1: case 0xA2: case 0xA3: return kMoffs;
    case 0xA4: case 0xA5: case 0xA6: case 0xA7: return kNone;
    case 0xA8: return kImm8;
    case 0xA9: return kImmZ;
    case 0xAA: case 0xAB: case 0xAC: case 0xAD: case 0xAE: case 0xAF: return kNone;
    case 0xC0: case 0xC1: return kModRm | kImm8;
    case 0xC2: case 0xCA: return kImm16;
    case 0xC3: case 0xCB: case 0xC9: case 0xCC: case 0xCE: case 0xCF: return kNone;
    case 0xC4: case 0xC5: return kModRm;  // les/lds: no VEX in code built for plain i686
    case 0xC6: return kModRm | kImm8;
    case 0xC7: return kModRm | kImmZ;
    case 0xC8: return kImm16 | kImm8;
    case 0xCD: return kImm8;
    case 0xD0: case 0xD1: case 0xD2: case 0xD3: return kModRm;
    case 0xD4: case 0xD5: return kImm8;
    case 0xD7: return kNone;
    case 0xE8: case 0xE9: return kImmZ;
    case 0xEB: return kImm8;
    case 0xEC: case 0xED: case 0xEE: case 0xEF: return kNone;
    case 0xF1: case 0xF4: case 0xF5: return kNone;
    case 0xF6: return kModRm | kGroup3;
    case 0xF7: return kModRm | kGroup3;
    case 0xF8: case 0xF9: case 0xFA: case 0xFB: case 0xFC: case 0xFD: return kNone;
    case 0xFE: case 0xFF: return kModRm;
    default: return kInvalid;
    }
}

static uint8_t TwoByteOperands(uint8_t op) {
    if (op >= 0x80 && op <= 0x8F)
        return kImmZ;  // jcc rel32
    if (op >= 0xC8 && op <= 0xCF)
        return kNone;  // bswap
    switch (op) {
    case 0x05: case 0x06: case 0x07: case 0x08: case 0x09: case 0x0B: case 0x0E:
    case 0x30: case 0x31: case 0x32: case 0x33: case 0x34: case 0x35: case 0x37:
    case 0x77: case 0xA0: case 0xA1: case 0xA2: case 0xA8: case 0xA9: case 0xAA:
        return kNone;
    case 0x70: case 0x71: case 0x72: case 0x73: case 0xA4: case 0xAC: case 0xBA:
    case 0xC2: case 0xC4: case 0xC5: case 0xC6:
        return kModRm | kImm8;
    case 0x0F: case 0x38: case 0x3A: case 0x04: case 0x0A: case 0x0C: case 0x24: case 0x25: case 0x26: case 0x27:
    case 0x36: case 0x39: case 0x3B: case 0x3C: case 0x3D: case 0x3E: case 0x3F: case 0xFF:
        return kInvalid;  // three-byte maps and holes are decoded by the caller or not at all
    default:
        return kModRm;
    }
}

// Bytes taken by a ModRM byte with its SIB byte and displacement.
static size_t ModRmLength(const uint8_t* code, size_t available, bool addressSize16) {
    if (available < 1)
        return 0;
    uint8_t modrm = code[0];
    uint8_t mod = modrm >> 6, rm = modrm & 7;
    if (mod == 3)
        return 1;
    if (addressSize16) {
        if (mod == 0)
            return rm == 6 ? 3 : 1;
        return mod == 1 ? 2 : 3;
    }
    size_t length = 1;
    if (rm == 4) {
        if (available < 2)
            return 0;
        length = 2;
        if (mod == 0 && (code[1] & 7) == 5)
            length += 4;
    } else if (mod == 0 && rm == 5) {
        length += 4;
    }
    if (mod == 1)
        length += 1;
    else if (mod == 2)
        length += 4;
    return length;
}

// 0 when the bytes within `available` are no instruction of the table.
size_t X86InstructionLength(const uint8_t* code, size_t available) {
    size_t at = 0;
    bool operandSize16 = false, addressSize16 = false;
    for (; at < available && at < 15; ++at) {
        uint8_t b = code[at];
        if (b == 0x66)
            operandSize16 = true;
        else if (b == 0x67)
            addressSize16 = true;
        else if (b != 0xF0 && b != 0xF2 && b != 0xF3 && b != 0x26 && b != 0x2E && b != 0x36 && b != 0x3E &&
                 b != 0x64 && b != 0x65)
            break;
    }
    if (at >= available)
        return 0;
    uint8_t op = code[at++];
    uint8_t operands;
    if (op == 0x0F) {
        if (at >= available)
            return 0;
        uint8_t second = code[at++];
        if (second == 0x38 || second == 0x3A) {
            if (at >= available)
                return 0;
            ++at;
            operands = second == 0x38 ? kModRm : kModRm | kImm8;
        } else {
            operands = TwoByteOperands(second);
        }
    } else {
        operands = OneByteOperands(op);
    }
    if (operands & kInvalid)
        return 0;
    size_t length = at;
    if (operands & kModRm) {
        size_t modrm = ModRmLength(code + at, available - at, addressSize16);
        if (modrm == 0)
            return 0;
        if (op == 0xFF && ((code[at] >> 3) & 7) == 7)
            return 0;
        if ((operands & kGroup3) && ((code[at] >> 3) & 7) < 2)
            operands |= op == 0xF6 ? kImm8 : kImmZ;
        length += modrm;
    }
    if (operands & kImm8)
        length += 1;
    if (operands & kImm16)
        length += 2;
    if (operands & kImmZ)
        length += operandSize16 ? 2 : 4;
    if (operands & kMoffs)
        length += addressSize16 ? 2 : 4;
    if (operands & kFar)
        length += operandSize16 ? 4 : 6;
    return length <= available ? length : 0;
}
