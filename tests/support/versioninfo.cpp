#include "support/versioninfo.h"

#include <vector>

namespace {

std::vector<BYTE> versionBlock(const std::string& file) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
    std::vector<BYTE> info(size);
    if (size == 0 || !GetFileVersionInfoA(file.c_str(), 0, size, info.data())) info.clear();
    return info;
}

}  // namespace

std::string versionString(const std::string& file, const char* name) {
    std::vector<BYTE> info = versionBlock(file);
    if (info.empty()) return "";
    std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    char* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) || !text) return "";
    return text;
}

bool fixedProductVersion(const std::string& file, int& major, int& minor, int& patch, DWORD& fileType) {
    std::vector<BYTE> info = versionBlock(file);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (info.empty() || !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length)) return false;
    major = HIWORD(fixed->dwProductVersionMS);
    minor = LOWORD(fixed->dwProductVersionMS);
    patch = HIWORD(fixed->dwProductVersionLS);
    fileType = fixed->dwFileType;
    return true;
}
