// Reads what a run added to the service log: remember where the log ends, run, then take the
// lines after that point, split into stamp, tag, key and detail.
#pragma once
#include <string>
#include <vector>

namespace brindle::test {

struct ServiceLogLine {
  std::wstring stamp, tag, key, detail;
};

class ServiceLogTail {
 public:
  ServiceLogTail();  // marks the current end of the log
  // Lines written since; each line has the layout stamp,tag,key,detail.
  std::vector<ServiceLogLine> NewLines() const;
  // The details of the new lines with this key, in order.
  std::vector<std::wstring> Details(const std::wstring& key) const;

 private:
  size_t start_ = 0;
};

}  // namespace brindle::test
