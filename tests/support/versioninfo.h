// Reading a binary's version resource, as Explorer's properties do.
#pragma once

#include <windows.h>

#include <string>

// The named text of the US English, Unicode block ("ProductVersion", ...); empty when missing.
std::string versionString(const std::string& file, const char* name);
// The fixed part's product version as major, minor, patch; false without a resource.
bool fixedProductVersion(const std::string& file, int& major, int& minor, int& patch, DWORD& fileType);
