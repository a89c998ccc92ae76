#include "support/iat.h"

#include <gtest/gtest.h>

#include <cstring>

static void** FindImportSlot(HMODULE module, const char* dll, const char* function) {
    auto base = reinterpret_cast<BYTE*>(module);
    auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return nullptr;
    for (auto descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        if (_stricmp(reinterpret_cast<char*>(base + descriptor->Name), dll) != 0)
            continue;
        auto names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        auto slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

void* ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    void** slot = FindImportSlot(module, dll, function);
    if (slot == nullptr)
        return nullptr;
    DWORD protection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    void* original = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    return original;
}

ScopedImport::ScopedImport(HMODULE module, const char* dll, const char* function, void* replacement)
    : module_(module), dll_(dll), function_(function), original_(ReplaceImport(module, dll, function, replacement)) {
    EXPECT_NE(original_, nullptr) << "the plug-in does not import " << dll << "!" << function;
}

ScopedImport::~ScopedImport() {
    if (original_)
        ReplaceImport(module_, dll_, function_, original_);
}
