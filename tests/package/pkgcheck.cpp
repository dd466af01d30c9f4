// Helper of the package test (package_test.sh), run under Wine:
//   pkgcheck deny <HKLM subkey>...        takes write access to the keys away from everyone
//   pkgcheck allow <HKLM subkey>...       gives it back
//   pkgcheck dacl <HKLM subkey>           prints the key's DACL in SDDL form
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

#include "support/regdeny.h"

namespace {

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
    const char* command = argc >= 3 ? argv[1] : "";
    if (strcmp(command, "dacl") == 0) return printDacl(argv[2]);
    for (int i = 2; i < argc && strcmp(command, "deny") == 0; ++i) {
        LONG err = denyRegistryWrites(HKEY_LOCAL_MACHINE, argv[i]);
        if (err != ERROR_SUCCESS || !registryWritesRefused(HKEY_LOCAL_MACHINE, argv[i])) {
            fprintf(stderr, "pkgcheck: writes to HKLM\\%s not denied (error %ld)\n", argv[i], err);
            return 1;
        }
    }
    for (int i = 2; i < argc && strcmp(command, "allow") == 0; ++i)
        if (allowRegistryWrites(HKEY_LOCAL_MACHINE, argv[i]) != ERROR_SUCCESS) return 1;
    if (strcmp(command, "deny") == 0 || strcmp(command, "allow") == 0) return 0;
    fprintf(stderr, "usage: pkgcheck deny|allow <HKLM subkey>... | dacl <HKLM subkey>\n");
    return 2;
}
