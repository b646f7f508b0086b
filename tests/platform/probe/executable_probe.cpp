// A program that prints the executable file name the platform code reports, as UTF-8.
#include <cstdio>

#include <tolvane/platform/code_page.h>
#include <tolvane/platform/process.h>

int main() {
  using namespace tolvane::platform;
  std::fputs(WideToMultiByte(TCodePage::cpUTF8, ExecutableFileName()).c_str(), stdout);
  return 0;
}
