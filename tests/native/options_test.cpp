// The options reader, natively: the shared table, then the key search limits.
#include <string.h>

#include <memory>
#include <string>

#include "../options_cases.h"
#include "gtest/gtest.h"
#include "mouse_jiggler_internal.h"

namespace {}  // namespace

// Test names carry the text with every byte outside printable ASCII escaped.
void PrintTo(const options_case &c, std::ostream *os) {
  static const char hex[] = "0123456789abcdef";
  for (const unsigned char *p = (const unsigned char *)c.text; *p; p++) {
    if (*p > ' ' && *p < 0x7f && *p != '\\')
      *os << (char)*p;
    else
      *os << "\\x" << hex[*p >> 4] << hex[*p & 15];
  }
}

namespace {

class OptionsTable : public ::testing::TestWithParam<options_case> {};

TEST_P(OptionsTable, ReadsTextIntoRecordOrRejects) {
  const options_case &c = GetParam();
  // The text sits in a buffer of its exact size, so a read past the
  // terminator shows under AddressSanitizer.
  std::string copy(c.text);
  std::unique_ptr<char[]> text(new char[copy.size() + 1]);
  memcpy(text.get(), copy.c_str(), copy.size() + 1);

  mj_opts opts = k_default_opts;
  char msg[MJ_MSG_SIZE] = {0};
  int accepted = opts_parse(text.get(), &opts, msg);

  if (c.rejection) {
    EXPECT_EQ(accepted, 0);
    EXPECT_STREQ(msg, c.rejection);
    EXPECT_EQ(memcmp(&opts, &k_default_opts, sizeof opts), 0) << "record touched";
  } else {
    EXPECT_EQ(accepted, 1) << msg;
    EXPECT_STREQ(msg, "");
    mj_opts want = {c.mode, c.interval_s, c.dx, c.dy, c.only_when_idle, c.dry_run};
    EXPECT_EQ(opts.mode, want.mode);
    EXPECT_EQ(opts.interval_s, want.interval_s);
    EXPECT_EQ(opts.dx, want.dx);
    EXPECT_EQ(opts.dy, want.dy);
    EXPECT_EQ(opts.only_when_idle, want.only_when_idle);
    EXPECT_EQ(opts.dry_run, want.dry_run);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionsTable, ::testing::ValuesIn(k_options_cases));

// The field's value on entry is the default of every key, not the record's
// initial defaults: a NaN or an unreadable value keeps what the caller put there.
TEST(OptionsReader, ValueOnEntryIsTheDefault) {
  mj_opts opts = {0, 90, -4, 3, 0, 1};
  char msg[MJ_MSG_SIZE] = {0};
  ASSERT_EQ(opts_parse("{\"interval_s\":-nan,\"dx\":\"x\",\"mode\":7}", &opts, msg), 1);
  EXPECT_EQ(opts.mode, 0);
  EXPECT_EQ(opts.interval_s, 90);
  EXPECT_EQ(opts.dx, -4);
  EXPECT_EQ(opts.dy, 3);
  EXPECT_EQ(opts.only_when_idle, 0);
  EXPECT_EQ(opts.dry_run, 1);
}

TEST(OptionsReader, KeySearchFindsKeysUpTo61Bytes) {
  std::string key61(61, 'k'), key62(62, 'k');
  std::string text = "{\"" + key61 + "\":5,\"" + key62 + "\":6}";
  EXPECT_EQ(json_int(text.c_str(), key61.c_str(), -1), 5);
  EXPECT_EQ(json_find(text.c_str(), key62.c_str()), nullptr);
  EXPECT_EQ(json_int(text.c_str(), key62.c_str(), -1), -1);
}

TEST(OptionsReader, KeySearchSkipsOccurrencesWithoutColon) {
  const char *text = "{\"k\",\"k\" x \"k\"\n:\t 42}";
  const char *v = json_find(text, "k");
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(v, "42}");
  EXPECT_EQ(json_find(nullptr, "k"), nullptr);
  EXPECT_EQ(json_find("{\"k\"  ", "k"), nullptr);
  EXPECT_STREQ(json_find("{\"k\":  ", "k"), "");
}

}  // namespace
