// Shared main of every test program: on Windows, COM is initialised for the main thread the way
// the program itself does it, so tests of COM-based services run as they would in the product.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <objbase.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
