#include "apply/memory_com.h"

#include "sys/paths.h"
#include "sys/text.h"

namespace brindle {

std::wstring MemoryCom::Key(const std::wstring& path, bool is64Bit) {
  return (is64Bit ? L"64|" : L"32|") + AsciiLower(ToBackslashes(path));
}

bool MemoryCom::Unregister(const std::wstring& path, bool is64Bit, unsigned long& code) {
  code = 0;
  const std::wstring key = Key(path, is64Bit);
  const auto refused = refused_.find(key);
  if (refused != refused_.end()) {
    code = is64Bit ? refused->second : 0;
    return false;
  }
  if (!HasExeExtension(path) && !files_.HasFile(path, is64Bit)) return false;
  registered_.erase(key);
  return true;
}

bool MemoryCom::Register(const std::wstring& path, bool is64Bit, bool& queued) {
  queued = false;
  const std::wstring key = Key(path, is64Bit);
  if (refused_.count(key)) return false;
  const bool local = HasExeExtension(path);
  if (!local && !files_.HasFile(path, is64Bit)) return false;
  if (!local && waiting_.count(key)) {
    queued = true;
    return true;
  }
  registered_.insert(key);
  return true;
}

bool MemoryCom::WaitingRegistrationName(const std::wstring& path, bool is64Bit, std::wstring& name) {
  if (!files_.HasFile(path, is64Bit)) return false;
  name = files_.RestartName(path, is64Bit);
  return true;
}

}  // namespace brindle
