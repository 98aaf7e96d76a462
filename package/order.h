// The position of a list entry in the order of work: entries run in ascending order.
#pragma once

namespace brindle {

class CQXOrder {
 public:
  explicit CQXOrder(int value = 0) : value(value) {}
  virtual ~CQXOrder() = default;
  CQXOrder(const CQXOrder&) = default;
  CQXOrder& operator=(const CQXOrder&) = default;

  int value;
};

}  // namespace brindle
