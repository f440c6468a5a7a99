// The hosts' text builder: appends, the sticky cut, UTF-8 and the JSON escaper.
#include "text.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>

TEST(Text, AppendsTextsCharsNumbersAndPaddedNumbers) {
  mjh_text_buffer<64> t;
  t.add("ab", ' ', 12, ' ', -5LL, ' ', 4294967295u, ' ', mjh_pad2{7}, ':', mjh_pad2{42}, ' ', true, ' ',
        static_cast<const char *>(nullptr), INT64_MIN);
  EXPECT_EQ(std::string(t.c_str()), "ab 12 -5 4294967295 07:42 true -9223372036854775808");
  EXPECT_TRUE(t.ok());
}

TEST(Text, ACutIsStickyAndKeepsWholeCharacters) {
  char buf[8];
  mjh_text t(buf);
  t.add("ab\xc3\xa9\xc3\xa9\xc3\xa9");  // 8 bytes: the third e-acute does not fit whole
  EXPECT_EQ(std::string(buf), "ab\xc3\xa9\xc3\xa9");
  EXPECT_FALSE(t.ok());
  t.add("x");  // dropped, though a byte is free
  EXPECT_EQ(t.size(), 6u);
  t.rewind(2);
  EXPECT_TRUE(t.ok());
  t.add("cdefg");
  EXPECT_EQ(std::string(buf), "abcdefg");
  EXPECT_TRUE(t.ok());
}

TEST(Text, BytesThatAreNotUtf8BecomeQuestionMarks) {
  struct Case {
    const char *in, *out;
  } cases[] = {
      {"\xff", "?"},
      {"a\xc3", "a?"},               // a sequence cut short
      {"\xc0\xaf", "??"},            // overlong
      {"\xed\xa0\x80", "???"},       // a surrogate
      {"\xf4\x90\x80\x80", "????"},  // past U+10FFFF
      {"\xe2\x82\xac ok", "\xe2\x82\xac ok"},
  };
  for (const Case &c : cases) {
    mjh_text_buffer<32> t;
    t.add(c.in);
    EXPECT_EQ(std::string(t.c_str()), c.out) << c.in;
  }
}

TEST(Text, JsonStringsAreQuotedAndEscaped) {
  mjh_text_buffer<64> t;
  t.add(mjh_json_quoted{std::string_view("a\"b\\c\n\r\t\x01\x1f\xff\xc3\xa9\0z", 15)});
  EXPECT_EQ(std::string(t.c_str()), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u001f?\xc3\xa9\\u0000z\"");
}

TEST(Text, ShortenedTextsEndInAnEllipsisAtACharacter) {
  struct Case {
    const char *in;
    size_t max;
    const char *out;
  } cases[] = {
      {"abcdefghij", 10, "abcdefghij"},
      {"abcdefghij", 6, "abc..."},
      {"ab\xc3\xa9\xc3\xa9xyz", 8, "ab\xc3\xa9..."},  // 5 bytes kept would split the second character
      {"abcdef", 2, ""},
  };
  for (const Case &c : cases) {
    mjh_text_buffer<32> t;
    t.add(mjh_shortened{c.in, c.max});
    EXPECT_EQ(std::string(t.c_str()), c.out) << c.in;
  }
}
