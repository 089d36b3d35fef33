// Grouping and the decimal point follow the calling thread's locale.  The
// locales are compiled into a private directory with localedef, so the
// suite needs Debian's locale sources and skips without them.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "string/str.h"

// glibc's newlocale loses a small block when LOCPATH is set; that is not
// the library's leak.
extern "C" const char *__lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace {

class FormatLocale : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/hyxlocXXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    for (const char *name : {"en_US", "de_DE", "fr_FR"}) {
      std::string cmd =
          "localedef -i " + std::string(name) + " -f UTF-8 " + dir_ + "/" + name + ".UTF-8 >/dev/null 2>&1";
      if (system(cmd.c_str()) != 0) return;
    }
    setenv("LOCPATH", dir_.c_str(), 1);
    ready_ = true;
  }
  static void TearDownTestSuite() {
    if (!dir_.empty()) system(("rm -rf " + dir_).c_str());
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "localedef or the locale sources are missing";
  }
  // Formats under the named locale, set for this thread only.
  static std::string In(const char *name, const char *format, ...) {
    locale_t loc = newlocale(LC_ALL_MASK, name, nullptr);
    EXPECT_NE(loc, nullptr) << name;
    if (loc == nullptr) return "";
    locale_t old = uselocale(loc);
    char buffer[128];
    va_list ap;
    va_start(ap, format);
    Str_Vsnprintf(buffer, sizeof buffer, format, ap);
    va_end(ap);
    uselocale(old);
    freelocale(loc);
    return buffer;
  }
  static inline std::string dir_;
  static inline bool ready_ = false;
};

TEST_F(FormatLocale, GroupsWithTheLocalesSeparator) {
  EXPECT_EQ(In("en_US.UTF-8", "%'d", 1234567), "1,234,567");
  EXPECT_EQ(In("en_US.UTF-8", "%'d|%'u|%'ld|%'d|%'d", -1234, 1000u, 123456789012L, 999, 0),
            "-1,234|1,000|123,456,789,012|999|0");
  EXPECT_EQ(In("en_US.UTF-8", "%'.2f|%'12.1f|%'g|%'x", 1234567.891, -98765.43, 1234567.0, 0x123456),
            "1,234,567.89|   -98,765.4|1.23457e+06|123456");
  EXPECT_EQ(In("en_US.UTF-8", "%'-10d|%'010d", 12345, 12345), "12,345    |000012,345");
  EXPECT_EQ(In("de_DE.UTF-8", "%'d|%.2f|%'.1f|%e", 1234567, 3.25, 12345.5, 1.5),
            "1.234.567|3,25|12.345,5|1,500000e+00");
  // A multi-byte separator goes in whole.
  EXPECT_EQ(In("fr_FR.UTF-8", "%'d", 1234567), "1\u202f234\u202f567");
  EXPECT_EQ(In("C", "%'d|%.1f", 1234567, 2.5), "1234567|2.5");
}

}  // namespace
