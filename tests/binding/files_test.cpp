// Whole-file reads and writes for the command line, and the UTF-8 check.
#include "binding/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "binding/boundary.h"

namespace kestrel::binding {
namespace {

TEST(Files, Utf8IsWellFormedUtf8Only) {
  const struct {
    std::string_view bytes;
    bool utf8;
  } cases[] = {
      {"", true}, {"\x7f\xc2\x80", true}, {"\xed\x9f\xbf\xee\x80\x80", true}, {"\xef\xbf\xbf", true},
      {"\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", true},  // the edges of each length
      {"\x80", false},                                                            // a lone continuation byte
      {"\xc0\xaf", false}, {"\xe0\x9f\xbf", false}, {"\xf0\x8f\xbf\xbf", false},  // overlong forms
      {"\xed\xa0\x80", false},                                                    // an encoded surrogate
      {"\xf4\x90\x80\x80", false}, {"\xf5\x80\x80\x80", false},                   // past U+10FFFF
      {"a\xc3", false}, {"\xe2\x82", false}, {"\xf0\x9f\x98", false},             // cut short
      {"\xe2\x28\xa1", false},                                                    // a continuation missing inside
  };
  for (const auto& c : cases) EXPECT_EQ(is_utf8(c.bytes), c.utf8) << testing::PrintToString(c.bytes);
}

// The errno and text of the OsError `f` throws, or "no error".
template <class F>
std::string os_error_of(F&& f) {
  try {
    f();
  } catch (const OsError& error) {
    return std::to_string(error.code()) + " " + error.strerror();
  }
  return "no error";
}

TEST(Files, ReadAndReplaceWholeFiles) {
  // A missing file, and a file replaced by a shorter text: test_cli.py.
  const std::string path = ::testing::TempDir() + "kestrel-files-test.qasm";
  replace_file(path, "// caf\xe9\n");
  EXPECT_EQ(os_error_of([&] { read_utf8_file(path); }), "84 stream did not contain valid UTF-8");
  std::remove(path.c_str());
  EXPECT_EQ(os_error_of([] { read_utf8_file("/"); }), "21 Is a directory");
  EXPECT_EQ(os_error_of([] { replace_file("/dev/full", "t q[0];\n"); }), "28 No space left on device");
}

}  // namespace
}  // namespace kestrel::binding
