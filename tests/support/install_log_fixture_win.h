// Tests that use the machine's install log: the log that was there is put aside and restored
// byte for byte when the test ends, so tests never depend on each other's logs.
#pragma once
#include <memory>
#include <string>

#include "logs/install_log.h"

namespace brindle::test {

class InstallLogGuard {
 public:
  InstallLogGuard();   // puts the current install log aside (and leaves none)
  ~InstallLogGuard();  // restores it exactly, or removes the test's log when there was none
  const std::wstring& Path() const { return path_; }
  // Writes an install log with one entry per name (version 1.0, display name "<name> Suite").
  bool WriteWithApps(const std::vector<std::wstring>& appNames);
  std::string Bytes() const;

 private:
  std::wstring path_;
  bool hadLog_ = false;
  std::string saved_;
};

}  // namespace brindle::test
