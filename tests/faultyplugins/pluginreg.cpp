// pluginreg register|unregister <dll>: runs a plug-in DLL's own
// (un)registration, for test scripts. Prints the result; exit code 0 on success.
#include <cstdio>
#include <cstring>

#include "registration.h"

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "register") != 0 && strcmp(argv[1], "unregister") != 0)) {
        fprintf(stderr, "usage: pluginreg register|unregister <dll>\n");
        return 2;
    }
    HRESULT hr = callServerRegistration(argv[2], strcmp(argv[1], "register") == 0);
    printf("%s %s: 0x%08lx\n", argv[1], argv[2], (unsigned long)hr);
    return hr == S_OK ? 0 : 1;
}
