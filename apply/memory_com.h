// COM registration held in memory behind MachineCom, over a MemoryFiles: the servers registered,
// and the registrations waiting for the next logon. As on the system, a library that is not
// there fails to unregister with no code (it cannot be loaded in process, and the registration
// tool is never started without the library's short path), while a program that cannot be
// started is passed over; a server can also be made to refuse, as one whose own entry point or
// the registration tool fails.
#pragma once
#include <map>
#include <set>
#include <string>

#include "apply/machine_com.h"
#include "apply/memory_files.h"

namespace brindle {

class MemoryCom : public MachineCom {
 public:
  explicit MemoryCom(MemoryFiles& files) : files_(files) {}
  bool Unregister(const std::wstring& path, bool is64Bit, unsigned long& code) override;
  bool Register(const std::wstring& path, bool is64Bit, bool& queued) override;
  bool WaitingRegistrationName(const std::wstring& path, bool is64Bit, std::wstring& name) override;

  void AddRegistered(const std::wstring& path, bool is64Bit) { registered_.insert(Key(path, is64Bit)); }
  bool IsRegistered(const std::wstring& path, bool is64Bit) const {
    return registered_.count(Key(path, is64Bit)) != 0;
  }
  // The server's own (un)registration fails: with code as the registration tool's exit code.
  void Refuse(const std::wstring& path, bool is64Bit, unsigned long code = 5) {
    refused_[Key(path, is64Bit)] = code;
  }
  // A registration the server cannot do now waits for the next logon.
  void WaitForLogon(const std::wstring& path, bool is64Bit) { waiting_.insert(Key(path, is64Bit)); }

 private:
  static std::wstring Key(const std::wstring& path, bool is64Bit);

  MemoryFiles& files_;
  std::set<std::wstring> registered_, waiting_;
  std::map<std::wstring, unsigned long> refused_;
};

}  // namespace brindle
