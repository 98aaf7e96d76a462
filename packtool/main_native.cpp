// brindle-pack's entry on Linux: arguments arrive as UTF-8.
#include <iostream>

#include "packtool/pack_tool.h"
#include "sys/text.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(brindle::WideFromUtf8(argv[i]));
  return brindle::pack::RunPackTool(args, std::cout, std::cerr);
}
