// The Linux tools of the machine the tests run on, used from the Windows tests under Wine (Wine
// starts a Linux program when asked to start one): gcab makes the cabinets the tests apply,
// openssl deciphers logs independently of the program.
#pragma once
#include <string>
#include <vector>

namespace brindle::test {

// The Linux path of a Windows path (empty when Wine cannot tell).
std::string UnixPath(const std::wstring& windowsPath);
// Runs a Linux program with arguments (each passed as one argument) in the given Windows
// folder; returns its exit code, or -1 when it cannot be started or runs over the time limit.
int RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::wstring& workingFolder = L"", unsigned timeoutMs = 60000);
// A cabinet of every file below the folder (names relative to it, sub-folders kept).
bool MakeCabinet(const std::wstring& cabinetPath, const std::wstring& sourceFolder);
// The cabinet's bytes with one entry name replaced by another of the same length, for
// cabinets that no well-behaved tool would make.
bool RenameCabinetEntry(const std::wstring& cabinetPath, const std::string& from, const std::string& to);

}  // namespace brindle::test
