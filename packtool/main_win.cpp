// brindle-pack's entry on Windows: wide arguments; COM for the system's XML DOM.
#include <windows.h>
#include <objbase.h>

#include <fcntl.h>
#include <io.h>

#include <iostream>

#include "packtool/pack_tool.h"

int wmain(int argc, wchar_t** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // Logs and cabinets go through standard input and output byte for byte.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  const int code = brindle::pack::RunPackTool(args, std::cout, std::cerr);
  std::cout.flush();
  CoUninitialize();
  return code;
}
