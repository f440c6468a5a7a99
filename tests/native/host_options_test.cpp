// The hosts' strict options reader: what it accepts, the message for each
// refusal, and that a refusal changes nothing.
#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "options.h"

namespace {

struct accepted_case {
  std::string text;
  mjh_options want;
  unsigned given;
};

// Fields: mode, interval_s, dx, dy, only_when_idle, dry_run, keep_awake.
const accepted_case k_accepted[] = {
    {"{}", {MJ_MODE_ZEN, 60, 1, 1, 1, 0, 0}, 0},
    {" \t\r\n{ }\n", {MJ_MODE_ZEN, 60, 1, 1, 1, 0, 0}, 0},
    {R"({"mode":"move"})", {MJ_MODE_MOVE, 60, 1, 1, 1, 0, 0}, MJH_KEY_MODE},
    {R"({"mode":"zen","interval_s":1})", {MJ_MODE_ZEN, 1, 1, 1, 1, 0, 0}, MJH_KEY_MODE | MJH_KEY_INTERVAL_S},
    {R"({"interval_s":3600,"dx":-200,"dy":200})",
     {MJ_MODE_ZEN, 3600, -200, 200, 1, 0, 0},
     MJH_KEY_INTERVAL_S | MJH_KEY_DX | MJH_KEY_DY},
    {R"({"dx":0,"dy":-0})", {MJ_MODE_ZEN, 60, 0, 0, 1, 0, 0}, MJH_KEY_DX | MJH_KEY_DY},
    {R"({"only_when_idle":false,"dry_run":true,"keep_awake":true})",
     {MJ_MODE_ZEN, 60, 1, 1, 0, 1, 1},
     MJH_KEY_ONLY_WHEN_IDLE | MJH_KEY_DRY_RUN | MJH_KEY_KEEP_AWAKE},
    {R"({"mode":"move","interval_s":30,"dx":2,"dy":-3,"only_when_idle":true,"dry_run":false,"keep_awake":false})",
     {MJ_MODE_MOVE, 30, 2, -3, 1, 0, 0},
     MJH_KEYS_ALL},
    // Escapes in keys and strings are decoded before they are compared.
    {R"({"\u006dode":"mo\u0076e"})", {MJ_MODE_MOVE, 60, 1, 1, 1, 0, 0}, MJH_KEY_MODE},
    {R"({"dry_run" : true , "interval_s" : 5 })",
     {MJ_MODE_ZEN, 5, 1, 1, 1, 1, 0},
     MJH_KEY_DRY_RUN | MJH_KEY_INTERVAL_S},
};

class OptionsAccepted : public ::testing::TestWithParam<accepted_case> {};

TEST_P(OptionsAccepted, GiveTheFieldsAndTheKeysNamed) {
  const accepted_case &c = GetParam();
  mjh_options o;
  mjh_options_default(&o);
  unsigned given = 12345;
  mjh_text_buffer<128> err;
  ASSERT_TRUE(mjh_options_parse(c.text.data(), c.text.size(), MJH_KEYS_ALL, &o, &given, &err))
      << c.text << ": " << err.c_str();
  EXPECT_EQ(memcmp(&o, &c.want, sizeof o), 0) << c.text;
  EXPECT_EQ(given, c.given) << c.text;
  EXPECT_EQ(err.size(), 0u) << "no message for an accepted text";
}

INSTANTIATE_TEST_SUITE_P(Table, OptionsAccepted, ::testing::ValuesIn(k_accepted));

struct refused_case {
  std::string text;
  const char *message;
};

const refused_case k_refused[] = {
    // Not one JSON object.
    {"", "empty, not a JSON object"},
    {" \n\t", "empty, not a JSON object"},
    {"[]", "not a JSON object"},
    {R"([{"mode":"move"}])", "not a JSON object"},
    {"7", "not a JSON object"},
    {R"("mode")", "not a JSON object"},
    {"null", "not a JSON object"},
    {"{", "not JSON"},
    {"mode=zen", "not JSON"},
    {R"({"mode":"zen",})", "not JSON"},
    {R"({,"mode":"zen"})", "not JSON"},
    {R"({"mode" "zen"})", "not JSON"},
    {R"({"mode":"zen" "dx":1})", "not JSON"},
    {R"({"dx":{} "dy":1})", "not JSON"},
    {R"({"mode"::"zen"})", "not JSON"},
    {R"({mode:"zen"})", "not JSON"},
    {R"({'mode':'zen'})", "not JSON"},
    {R"({"dx":01})", "not JSON"},
    {R"({"dx":+1})", "not JSON"},
    {R"({"dx":1.})", "not JSON"},
    {R"({"dx":-})", "not JSON"},
    {R"({"dry_run":tru})", "not JSON"},
    {R"({"dry_run":True})", "not JSON"},
    {R"({"mode":"z\en"})", "not JSON"},
    {R"({"mode":"\u00zz"})", "not JSON"},
    {R"({"mode":"\ud800"})", "not JSON"},
    {R"({"mode":"\udc00\ud800"})", "not JSON"},
    {"{\"mode\":\"z\ten\"}", "not JSON"},
    {std::string("{\"mode\":\"zen\0\"}", 14), "not JSON"},
    {std::string("{}\0", 3), "not one JSON object: text after its end"},
    {"{}{}", "not one JSON object: text after its end"},
    {R"({"mode":"zen"} x)", "not one JSON object: text after its end"},
    {"{\"mode\":\"zen\"}\n[]", "not one JSON object: text after its end"},
    {"{\"mode\":\"\xff\"}", "not UTF-8"},
    {"{\"mode\":\"\xc0\xaf\"}", "not UTF-8"},          // overlong '/'
    {"{\"mode\":\"\xed\xa0\x80\"}", "not UTF-8"},      // a surrogate
    {"{\"mode\":\"\xf4\x90\x80\x80\"}", "not UTF-8"},  // above U+10FFFF
    {"{\"mode\":\"\xe2\x82\"}", "not UTF-8"},          // cut short
    {R"({"a":[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]})", "nested too deeply"},
    // Keys.
    {R"({"speed":3})", "unknown key \"speed\""},
    {R"({"Mode":"zen"})", "unknown key \"Mode\""},
    {R"({"":1})", "unknown key \"\""},
    {R"({"\u00e9t\u00e9":1})", "unknown key \"\xc3\xa9t\xc3\xa9\""},
    {"{\"" + std::string(100, 'k') + "\":1}", "unknown key \"kkkkkkkkkkkkkkkkkkkkkkkkkkkkk...\""},
    {R"({"speed":[1,{"b":[true,null,"x",{}]},-1.5e+3,[]],"x":{"y":{"z":0.5E-2}}})", "unknown key \"speed\""},
    {R"({"dx":1,"dx":1})", "duplicate key \"dx\""},
    {R"({"mode":"zen","m\u006fde":"zen"})", "duplicate key \"mode\""},
    // Types and ranges.
    {R"({"mode":3})", "\"mode\" must be \"zen\" or \"move\", not 3"},
    {R"({"mode":"Zen"})", "\"mode\" must be \"zen\" or \"move\", not \"Zen\""},
    {R"({"mode":"zen "})", "\"mode\" must be \"zen\" or \"move\", not \"zen \""},
    {R"({"mode":null})", "\"mode\" must be \"zen\" or \"move\", not null"},
    {R"({"mode":["zen"]})", "\"mode\" must be \"zen\" or \"move\", not [\"zen\"]"},
    {R"({"interval_s":"abc"})", "\"interval_s\" must be a whole number from 1 to 3600, not \"abc\""},
    {R"({"interval_s":"60"})", "\"interval_s\" must be a whole number from 1 to 3600, not \"60\""},
    {R"({"interval_s":1.5})", "\"interval_s\" must be a whole number from 1 to 3600, not 1.5"},
    {R"({"interval_s":60.0})", "\"interval_s\" must be a whole number from 1 to 3600, not 60.0"},
    {R"({"interval_s":1e3})", "\"interval_s\" must be a whole number from 1 to 3600, not 1e3"},
    {R"({"interval_s":0})", "\"interval_s\" must be a whole number from 1 to 3600, not 0"},
    {R"({"interval_s":3601})", "\"interval_s\" must be a whole number from 1 to 3600, not 3601"},
    {R"({"interval_s":-1})", "\"interval_s\" must be a whole number from 1 to 3600, not -1"},
    {R"({"interval_s":true})", "\"interval_s\" must be a whole number from 1 to 3600, not true"},
    {R"({"interval_s":99999999999999999999999})",
     "\"interval_s\" must be a whole number from 1 to 3600, not 99999999999999999999999"},
    {R"({"dx":201})", "\"dx\" must be a whole number from -200 to 200, not 201"},
    {R"({"dy":-201})", "\"dy\" must be a whole number from -200 to 200, not -201"},
    {R"({"dy":-4294967295})", "\"dy\" must be a whole number from -200 to 200, not -4294967295"},
    {R"({"dry_run":"yes"})", "\"dry_run\" must be true or false, not \"yes\""},
    {R"({"dry_run":1})", "\"dry_run\" must be true or false, not 1"},
    {R"({"only_when_idle":0})", "\"only_when_idle\" must be true or false, not 0"},
    {R"({"keep_awake":{}})", "\"keep_awake\" must be true or false, not {}"},
    {R"({"mode":")" + std::string(100, 'z') + R"("})",
     "\"mode\" must be \"zen\" or \"move\", not \"zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz..."},
    // The first fault in the text is the one named; nothing is applied.
    {R"({"interval_s":5,"dx":9,"mode":"fast"})", "\"mode\" must be \"zen\" or \"move\", not \"fast\""},
    {R"({"speed":1,"mode":"fast"})", "unknown key \"speed\""},
};

class OptionsRefused : public ::testing::TestWithParam<refused_case> {};

TEST_P(OptionsRefused, NameTheFaultAndChangeNothing) {
  const refused_case &c = GetParam();
  mjh_options o, before;
  memset(&o, 0x5a, sizeof o);
  before = o;
  unsigned given = 777;
  mjh_text_buffer<128> err;
  EXPECT_FALSE(mjh_options_parse(c.text.data(), c.text.size(), MJH_KEYS_ALL, &o, &given, &err)) << c.text;
  EXPECT_STREQ(err.c_str(), c.message) << c.text;
  EXPECT_GT(err.size(), 0u);
  EXPECT_EQ(memcmp(&o, &before, sizeof o), 0) << c.text;
  EXPECT_EQ(given, 777u) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, OptionsRefused, ::testing::ValuesIn(k_refused));

TEST(Options, OnlyTheAllowedKeys) {
  mjh_options o;
  mjh_options_default(&o);
  mjh_text_buffer<128> err;
  const std::string text = R"({"keep_awake":true})";
  EXPECT_FALSE(mjh_options_parse(text.data(), text.size(), MJH_KEYS_DLL, &o, nullptr, &err));
  EXPECT_STREQ(err.c_str(), "\"keep_awake\" is not an option here");
  EXPECT_TRUE(mjh_options_parse(text.data(), text.size(), MJH_KEY_KEEP_AWAKE, &o, nullptr, &err));
  EXPECT_EQ(o.keep_awake, 1);
}

TEST(Options, ReadOnlyTheGivenLength) {
  mjh_options o;
  mjh_options_default(&o);
  mjh_text_buffer<128> err;
  const char text[] = R"({"dx":5}garbage)";
  EXPECT_TRUE(mjh_options_parse(text, 8, MJH_KEYS_ALL, &o, nullptr, &err)) << err.c_str();
  EXPECT_EQ(o.dx, 5);
}

TEST(Options, RefuseTooManyValuesAndOverlongTexts) {
  mjh_options o;
  mjh_options_default(&o);
  mjh_text_buffer<128> err;
  std::string many = R"({"a":[)";
  for (int i = 0; i < 300; i++) many += i ? ",1" : "1";
  many += "]}";
  EXPECT_FALSE(mjh_options_parse(many.data(), many.size(), MJH_KEYS_ALL, &o, nullptr, &err));
  EXPECT_STREQ(err.c_str(), "too many values");
  err.clear();
  std::string longer = "{" + std::string(5000, ' ') + "}";
  EXPECT_FALSE(mjh_options_parse(longer.data(), longer.size(), MJH_KEYS_ALL, &o, nullptr, &err));
  EXPECT_STREQ(err.c_str(), "too long: more than 4096 bytes");
}

TEST(Options, MessagesAreCutToTheBuffer) {
  mjh_options o;
  mjh_options_default(&o);
  char err[12];
  memset(err, 'x', sizeof err);
  mjh_text message(err);
  const std::string text = R"({"speed":3})";
  EXPECT_FALSE(mjh_options_parse(text.data(), text.size(), MJH_KEYS_ALL, &o, nullptr, &message));
  EXPECT_EQ(strlen(err), sizeof err - 1);
  EXPECT_FALSE(message.ok());
  EXPECT_FALSE(mjh_options_parse(text.data(), text.size(), MJH_KEYS_ALL, &o, nullptr, nullptr));
}

TEST(Options, TextsForTheDllAndReplies) {
  mjh_options o = {MJ_MODE_MOVE, 30, -2, 200, 0, 1, 1};
  mjh_text_buffer<256> buf;
  mjh_options_dll_text(&o, buf);
  EXPECT_STREQ(buf.c_str(),
               R"({"mode":"move","interval_s":30,"dx":-2,"dy":200,"only_when_idle":false,"dry_run":true})");
  buf.clear();
  mjh_options_json(&o, buf);
  EXPECT_STREQ(
      buf.c_str(),
      R"({"mode":"move","interval_s":30,"dx":-2,"dy":200,"only_when_idle":false,"dry_run":true,"keep_awake":true})");
  // Members alone, for an object being written: a comma only after another member.
  mjh_text_buffer<256> members;
  members.add('{');
  mjh_options_members(&o, 0, members);
  EXPECT_STREQ(members.c_str(), "{");
  mjh_options_members(&o, MJH_KEY_KEEP_AWAKE | MJH_KEY_DX, members);
  EXPECT_STREQ(members.c_str(), R"({"dx":-2,"keep_awake":true)");
  mjh_options_members(&o, MJH_KEY_MODE, members);
  EXPECT_STREQ(members.c_str(), R"({"dx":-2,"keep_awake":true,"mode":"move")");
  mjh_text_buffer<256> bare;
  mjh_options_members(&o, MJH_KEY_DRY_RUN, bare);
  EXPECT_STREQ(bare.c_str(), R"("dry_run":true)");

  // What the writer writes, the reader reads back.
  mjh_options back;
  mjh_options_default(&back);
  mjh_text_buffer<128> err;
  ASSERT_TRUE(mjh_options_parse(buf.c_str(), buf.size(), MJH_KEYS_ALL, &back, nullptr, &err)) << err.c_str();
  EXPECT_EQ(memcmp(&o, &back, sizeof o), 0);

  // Too small: the builder says so, for the caller to check once.
  const size_t len = buf.size();
  char small[256];
  for (size_t size = 1; size <= len; size++) {
    mjh_text t(small, size);
    mjh_options_json(&o, t);
    EXPECT_FALSE(t.ok()) << size;
  }
  mjh_text exact(small, len + 1);
  mjh_options_json(&o, exact);
  EXPECT_TRUE(exact.ok());
  EXPECT_EQ(exact.view(), buf.view());
}

}  // namespace
