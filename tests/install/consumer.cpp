// A C++ program built against the installed library through its CMake package.
//   consumer_cpp [PATH]
// With PATH, it also fails unless PATH exists (a file the simulated host's
// profile makes).  It fails when the header's version is not the package's.
#include <hyxuser/hyxuser.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char **argv) {
  std::string version = std::to_string(HYXUSER_VERSION_MAJOR) + "." + std::to_string(HYXUSER_VERSION_MINOR) +
                        "." + std::to_string(HYXUSER_VERSION_PATCH);
  if (version != PACKAGE_VERSION) {
    std::cerr << "header version " << version << ", package version " << PACKAGE_VERSION << "\n";
    return 1;
  }
  if (argc > 1 && access(argv[1], F_OK) != 0) {
    std::cerr << argv[1] << ": " << strerror(errno) << "\n";
    return 1;
  }
  char text[64];
  if (HyxuserStatus_CodeToString(HYX_NOT_FOUND, text, sizeof text, nullptr) != HYX_OK) return 1;
  bool matches = HyxuserCompat_VerifyHSISigniture() == HYX_OK;
  std::cout << "c++: " << text << "; interface " << (matches ? "matches" : "differs") << "\n";
  return matches ? 0 : 1;
}
