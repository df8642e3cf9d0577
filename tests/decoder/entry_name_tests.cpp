// The name check of the decoding core, case by case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entry_name.h"

namespace {

struct NameCase {
  const char16_t* name;
  const char16_t* normalized;  // null: refused
};

const NameCase kNames[] = {
    {u"setup.exe", u"setup.exe"},
    {u"dir/sub/file.txt", u"dir\\sub\\file.txt"},
    {u"dir\\file.txt", u"dir\\file.txt"},
    {u"..data/.hidden", u"..data\\.hidden"},
    {u"a..b/c", u"a..b\\c"},
    {u"conference.txt", u"conference.txt"},
    {u"com10", u"com10"},
    {u"données/文件 ☃.txt", u"données\\文件 ☃.txt"},
    {u"", nullptr},
    {u"..", nullptr},
    {u".", nullptr},
    {u"a/../b", nullptr},
    {u"a/./b", nullptr},
    {u"/abs", nullptr},
    {u"\\abs", nullptr},
    {u"C:\\x", nullptr},
    {u"C:x", nullptr},
    {u"file:stream", nullptr},
    {u"dir/", nullptr},
    {u"a//b", nullptr},
    {u"trailing.", nullptr},
    {u"trailing ", nullptr},
    {u"aux", nullptr},
    {u"Aux.txt", nullptr},
    {u"dir/lpt9.log", nullptr},
    {u"nul .txt", nullptr},
    {u"pipe|name", nullptr},
    {u"tab\tname", nullptr},
};

class EntryName : public ::testing::TestWithParam<NameCase> {};

TEST_P(EntryName, IsAcceptedAndNormalizedOrRefused) {
  const NameCase& c = GetParam();
  std::vector<uint16_t> name;
  for (const char16_t* p = c.name; *p; p++) name.push_back(static_cast<uint16_t>(*p));
  int ok = normalizeEntryName(name.data(), name.size());
  ASSERT_EQ(c.normalized != nullptr, ok == 1);
  if (!ok) return;
  std::u16string got(name.begin(), name.end());
  EXPECT_TRUE(got == c.normalized);
}

INSTANTIATE_TEST_SUITE_P(Cases, EntryName, ::testing::ValuesIn(kNames));

}  // namespace
