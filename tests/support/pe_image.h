// Reading a plug-in file as bytes on disk rather than as a loaded module, so that one test
// program examines both builds, whichever bitness it has itself.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct PeSection {
    std::string name;
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;
};

struct PeImage {
    std::string bytes;
    std::string error;  // empty when the file was read and its headers make sense
    uint16_t machine = 0;
    uint16_t fileCharacteristics = 0;
    uint32_t symbolTableOffset = 0;
    uint32_t symbolCount = 0;
    uint16_t optionalMagic = 0;
    uint64_t imageBase = 0;
    uint16_t dllCharacteristics = 0;
    std::vector<IMAGE_DATA_DIRECTORY> directories;
    std::vector<PeSection> sections;
};

struct PeExport {
    std::string name;
    uint32_t ordinal = 0;  // biased, as the host sees it
    uint32_t rva = 0;
};

struct PeExports {
    std::string moduleName;
    uint32_t functionCount = 0;  // every exported address, named or by ordinal only
    std::vector<PeExport> named;  // in the order of the name table
};

// One leaf of the resource tree; named (non-numeric) types and names are skipped.
struct PeResource {
    uint32_t type = 0;
    uint32_t id = 0;
    uint32_t language = 0;
    std::string data;
};

struct PeVersionInfo {
    VS_FIXEDFILEINFO fixed = {};
    std::map<std::wstring, std::wstring> strings;  // every StringFileInfo table merged
};

PeImage ReadPeImage(const std::wstring& path);

size_t RvaToOffset(const PeImage& image, uint32_t rva);
std::string BytesAt(const PeImage& image, uint32_t rva, size_t count);
const PeSection* SectionOf(const PeImage& image, uint32_t rva);

PeExports ReadExports(const PeImage& image);
std::vector<std::string> ReadImportedDlls(const PeImage& image);
std::vector<PeResource> ReadResources(const PeImage& image);
PeVersionInfo ParseVersionInfo(const std::string& data, std::string& error);

size_t X86InstructionLength(const uint8_t* code, size_t available);
