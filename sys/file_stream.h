// Opening a C stream on a wide path, the one place where the platforms differ.
#pragma once
#include <cstdio>
#include <string>

namespace brindle {

// Opens the file for binary appending (created when missing); nullptr on failure.
std::FILE* OpenFileForAppend(const std::wstring& path);
// Pushes what the stream holds through to the disk (the C library's buffer and the system's);
// false when either step fails.
bool FlushFileToDisk(std::FILE* file);

}  // namespace brindle
