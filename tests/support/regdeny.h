// Taking write access to a registry key away from everyone, as a standard user meets the keys under
// HKEY_LOCAL_MACHINE, and giving it back. Reading stays allowed. Wine enforces such a DACL like Windows.
#pragma once

#include <windows.h>

// Creates the key when missing and sets the denying DACL. ERROR_SUCCESS, or the registry error.
LONG denyRegistryWrites(HKEY root, const char* subkey);
// Removes the DACL again (everyone has every right).
LONG allowRegistryWrites(HKEY root, const char* subkey);
// Whether opening the key for writing is refused now.
bool registryWritesRefused(HKEY root, const char* subkey);

// Denies writes to the key for the life of a scope, then gives access back and removes a key it created.
class RegistryWriteDenial {
public:
    RegistryWriteDenial(HKEY root, const char* subkey);
    ~RegistryWriteDenial();
    RegistryWriteDenial(const RegistryWriteDenial&) = delete;
    RegistryWriteDenial& operator=(const RegistryWriteDenial&) = delete;
    // ERROR_SUCCESS when the denial is in force and the registry enforces it.
    LONG result() const { return result_; }

private:
    HKEY root_;
    const char* subkey_;
    bool created_;
    LONG result_;
};
