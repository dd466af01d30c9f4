#include "support/regdeny.h"

namespace {

LONG setDacl(HKEY root, const char* subkey, PACL dacl) {
    HKEY key;
    LONG err = RegOpenKeyExA(root, subkey, 0, WRITE_DAC, &key);
    if (err != ERROR_SUCCESS) return err;
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, dacl != nullptr, dacl, FALSE);
    err = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
    RegCloseKey(key);
    return err;
}

}  // namespace

LONG denyRegistryWrites(HKEY root, const char* subkey) {
    HKEY key;
    LONG err = RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr);
    if (err != ERROR_SUCCESS) return err;
    RegCloseKey(key);
    BYTE aclBuffer[256];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    // Reading, and what it takes to undo this (changing the DACL, deleting the key).
    AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | WRITE_DAC | DELETE, everyone);
    err = setDacl(root, subkey, acl);
    FreeSid(everyone);
    return err;
}

LONG allowRegistryWrites(HKEY root, const char* subkey) { return setDacl(root, subkey, nullptr); }

bool registryWritesRefused(HKEY root, const char* subkey) {
    HKEY probe;
    LONG err = RegOpenKeyExA(root, subkey, 0, KEY_SET_VALUE, &probe);
    if (err == ERROR_SUCCESS) RegCloseKey(probe);
    return err == ERROR_ACCESS_DENIED;
}

RegistryWriteDenial::RegistryWriteDenial(HKEY root, const char* subkey) : root_(root), subkey_(subkey) {
    HKEY key;
    created_ = RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS;
    if (!created_) RegCloseKey(key);
    result_ = denyRegistryWrites(root, subkey);
    if (result_ == ERROR_SUCCESS && !registryWritesRefused(root, subkey)) result_ = ERROR_INVALID_ACCESS;
}

RegistryWriteDenial::~RegistryWriteDenial() {
    allowRegistryWrites(root_, subkey_);
    if (created_) RegDeleteKeyA(root_, subkey_);
}
