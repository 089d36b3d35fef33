// A C++ program built against the installed library through its CMake package.
#include <hyxuser/hyxuser.h>

#include <iostream>

int main() {
  char text[64];
  if (HyxuserStatus_CodeToString(HYX_NOT_FOUND, text, sizeof text, nullptr) != HYX_OK) return 1;
  std::cout << "c++: " << text << "; interface "
            << (HyxuserCompat_VerifyHSISigniture() == HYX_OK ? "matches" : "differs") << "\n";
  return 0;
}
