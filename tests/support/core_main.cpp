// Entry point of test programs that link the DLL's code in-process: the
// program itself stands in for the DLL's module (its resources included).

#include <windows.h>

#include <gtest/gtest.h>

#include "server/module.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!server::initializeModule(GetModuleHandleW(nullptr))) {
    std::fprintf(stderr, "module initialisation failed\n");
    return 1;
  }
  int result = RUN_ALL_TESTS();
  server::releaseModule();
  return result;
}
