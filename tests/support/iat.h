// Rebinding entries of a module's import address table, so that a test can see or script
// what the plug-in asks of the platform without any hook in the plug-in's code.
#pragma once

#include <windows.h>

// Points the import slot of function in dll (matched case-insensitively) at replacement.
// Returns what the slot held, or null when the module does not import it.
void* ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement);

// Restores the slot when the scope ends.
class ScopedImport {
public:
    ScopedImport(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ScopedImport();
    ScopedImport(const ScopedImport&) = delete;
    ScopedImport& operator=(const ScopedImport&) = delete;
    void* original() const { return original_; }

private:
    HMODULE module_;
    const char* dll_;
    const char* function_;
    void* original_;
};
