// Helper of the package test (package_test.sh), run under Wine:
//   pkgcheck version <file>               prints the file's ProductVersion
//   pkgcheck shortcut <file.lnk>          prints the shortcut's target
//   pkgcheck deny <HKLM subkey>...        takes write access to the keys away from everyone
//   pkgcheck allow <HKLM subkey>...       gives it back
//   pkgcheck dacl <HKLM subkey>           prints the key's DACL in SDDL form
#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "support/regdeny.h"
#include "support/versioninfo.h"

namespace {

int shortcutTarget(const char* lnk) {
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    char target[MAX_PATH] = {};
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, lnk, -1, wide, MAX_PATH);
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&link));
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) hr = file->Load(wide, STGM_READ);
    if (SUCCEEDED(hr)) hr = link->GetPath(target, MAX_PATH, nullptr, 0);
    if (file) file->Release();
    if (link) link->Release();
    CoUninitialize();
    if (FAILED(hr)) {
        fprintf(stderr, "pkgcheck: %s: no shortcut target (0x%08lx)\n", lnk, static_cast<unsigned long>(hr));
        return 1;
    }
    printf("%s\n", target);
    return 0;
}

int printDacl(const char* subkey) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, READ_CONTROL, &key) != ERROR_SUCCESS) return 1;
    BYTE sd[4096];
    DWORD size = sizeof sd;
    LONG err = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, sd, &size);
    RegCloseKey(key);
    char* text = nullptr;
    if (err != ERROR_SUCCESS || !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                                    sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return 1;
    printf("%s\n", text);
    LocalFree(text);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && strcmp(argv[1], "version") == 0) {
        printf("%s\n", versionString(argv[2], "ProductVersion").c_str());
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "shortcut") == 0) return shortcutTarget(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "deny") == 0) {
        for (int i = 2; i < argc; ++i) {
            LONG err = denyRegistryWrites(HKEY_LOCAL_MACHINE, argv[i]);
            if (err != ERROR_SUCCESS || !registryWritesRefused(HKEY_LOCAL_MACHINE, argv[i])) {
                fprintf(stderr, "pkgcheck: writes to HKLM\\%s not denied (error %ld)\n", argv[i], long(err));
                return 1;
            }
        }
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "dacl") == 0) return printDacl(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "allow") == 0) {
        LONG err = ERROR_SUCCESS;
        for (int i = 2; i < argc && err == ERROR_SUCCESS; ++i) err = allowRegistryWrites(HKEY_LOCAL_MACHINE, argv[i]);
        return err == ERROR_SUCCESS ? 0 : 1;
    }
    fprintf(stderr, "usage: pkgcheck version <file> | shortcut <file.lnk> | deny|allow <HKLM subkey>... | dacl <HKLM subkey>\n");
    return 2;
}
