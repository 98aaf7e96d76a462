// Opening a C stream on a wide path, the one place where the platforms differ.
#pragma once
#include <cstdio>
#include <string>

namespace brindle {

// Opens the file for binary appending (created when missing); nullptr on failure.
std::FILE* OpenFileForAppend(const std::wstring& path);

}  // namespace brindle
