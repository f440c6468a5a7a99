// The host core's JSON reader: the grammar and the tokens in one pass, the
// order its faults are told in, its limits, the decoding of strings, and the
// messages that show a refused value.
#include <string.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "json.h"
#include "options.h"
#include "protocol.h"

namespace {

struct parsed {
  mjh_json_error error;
  std::vector<mjh_jtok> tokens;
};

parsed parse(const std::string &text, int max = MJH_JSON_TOKENS_MAX) {
  mjh_jtok tokens[MJH_JSON_TOKENS_MAX];
  int count = -1;
  parsed p;
  p.error = mjh_json_parse_object(text.data(), text.size(), tokens, max, &count);
  p.tokens.assign(tokens, tokens + count);
  return p;
}

// `{"k":<value>}`, read.
parsed parse_value(const std::string &value) { return parse("{\"k\":" + value + "}"); }

// ---- Tokens ----------------------------------------------------------------------------

struct want_token {
  mjh_json_type type;
  const char *text;  // what [start, end) holds
  int size, parent;
};

struct tokens_case {
  std::string text;
  std::vector<want_token> want;
};

const tokens_case k_token_cases[] = {
    {R"({"a":1,"b":[true,{"c":null}],"d":"x\"y"})",
     {{MJH_JSON_OBJECT, R"({"a":1,"b":[true,{"c":null}],"d":"x\"y"})", 3, -1},
      {MJH_JSON_STRING, "a", 1, 0},
      {MJH_JSON_PRIMITIVE, "1", 0, 1},
      {MJH_JSON_STRING, "b", 1, 0},
      {MJH_JSON_ARRAY, R"([true,{"c":null}])", 2, 3},
      {MJH_JSON_PRIMITIVE, "true", 0, 4},
      {MJH_JSON_OBJECT, R"({"c":null})", 1, 4},
      {MJH_JSON_STRING, "c", 1, 6},
      {MJH_JSON_PRIMITIVE, "null", 0, 7},
      {MJH_JSON_STRING, "d", 1, 0},
      {MJH_JSON_STRING, R"(x\"y)", 0, 9}}},
    {" \t{ \"k\" : [ ] ,\r\n\"e\" : { } }\n ",
     {{MJH_JSON_OBJECT, "{ \"k\" : [ ] ,\r\n\"e\" : { } }", 2, -1},
      {MJH_JSON_STRING, "k", 1, 0},
      {MJH_JSON_ARRAY, "[ ]", 0, 1},
      {MJH_JSON_STRING, "e", 1, 0},
      {MJH_JSON_OBJECT, "{ }", 0, 3}}},
    {R"({"":""})", {{MJH_JSON_OBJECT, R"({"":""})", 1, -1}, {MJH_JSON_STRING, "", 1, 0}, {MJH_JSON_STRING, "", 0, 1}}},
    {R"({"n":[-1.5e+3,[0],"\u00e9"]})",
     {{MJH_JSON_OBJECT, R"({"n":[-1.5e+3,[0],"\u00e9"]})", 1, -1},
      {MJH_JSON_STRING, "n", 1, 0},
      {MJH_JSON_ARRAY, R"([-1.5e+3,[0],"\u00e9"])", 3, 1},
      {MJH_JSON_PRIMITIVE, "-1.5e+3", 0, 2},
      {MJH_JSON_ARRAY, "[0]", 1, 2},
      {MJH_JSON_PRIMITIVE, "0", 0, 4},
      {MJH_JSON_STRING, R"(\u00e9)", 0, 2}}},
};

TEST(JsonTokens, AreTheValuesInTheOrderOfTheText) {
  for (const tokens_case &c : k_token_cases) {
    parsed p = parse(c.text);
    ASSERT_EQ(p.error, MJH_JSON_OK) << c.text;
    ASSERT_EQ(p.tokens.size(), c.want.size()) << c.text;
    for (size_t i = 0; i < c.want.size(); i++) {
      const mjh_jtok &t = p.tokens[i];
      EXPECT_EQ(t.type, c.want[i].type) << c.text << " token " << i;
      EXPECT_EQ(c.text.substr(t.start, t.end - t.start), c.want[i].text) << c.text << " token " << i;
      EXPECT_EQ(t.size, c.want[i].size) << c.text << " token " << i;
      EXPECT_EQ(t.parent, c.want[i].parent) << c.text << " token " << i;
    }
  }
}

TEST(JsonTokens, SkipAndMemberFindTheirWayThroughNesting) {
  const std::string text = R"({"a":{"b":[1,{"c":2}]},"c":"\u0063","a\u0062":3})";
  parsed p = parse(text);
  ASSERT_EQ(p.error, MJH_JSON_OK);
  const mjh_jtok *t = p.tokens.data();
  const int count = static_cast<int>(p.tokens.size());
  EXPECT_EQ(mjh_json_skip(t, count, 2), 9) << "the value of a and all inside it";
  int c = mjh_json_member(text.c_str(), t, count, 0, "c");
  ASSERT_GE(c, 0);
  EXPECT_EQ(text.substr(t[c].start, t[c].end - t[c].start), R"(\u0063)") << "not the c inside a";
  int ab = mjh_json_member(text.c_str(), t, count, 0, "ab");
  ASSERT_GE(ab, 0);
  EXPECT_EQ(text.substr(t[ab].start, t[ab].end - t[ab].start), "3") << "keys compared decoded";
  EXPECT_EQ(mjh_json_member(text.c_str(), t, count, 0, "b"), -1) << "only the object's own members";
  EXPECT_EQ(mjh_json_member(text.c_str(), t, count, 1, "a"), -1) << "not an object";
}

// ---- Faults and their order ------------------------------------------------------------------

struct fault_case {
  std::string text;
  mjh_json_error want;
};

const fault_case k_faults[] = {
    {"", MJH_JSON_EMPTY},
    {" \r\n\t", MJH_JSON_EMPTY},
    {"{", MJH_JSON_SYNTAX},
    {"}", MJH_JSON_SYNTAX},
    {"{\"a\"}", MJH_JSON_SYNTAX},
    {"{\"a\":}", MJH_JSON_SYNTAX},
    {"{\"a\":1 \"b\":2}", MJH_JSON_SYNTAX},
    {"{\"a\":[1 2]}", MJH_JSON_SYNTAX},
    {"{\"a\":[1,]}", MJH_JSON_SYNTAX},
    {"{\"a\":[,1]}", MJH_JSON_SYNTAX},
    {"{\"a\":1]", MJH_JSON_SYNTAX},
    {"{\"a\":[1}", MJH_JSON_SYNTAX},
    {"{1:2}", MJH_JSON_SYNTAX},
    {"{\"a\"\f:1}", MJH_JSON_SYNTAX},  // a form feed is no blank
    {"{\"a\":nul}", MJH_JSON_SYNTAX},
    {"{\"a\":truex}", MJH_JSON_SYNTAX},
    // Not an object: the value is read whole first, its faults come first.
    {"[1]", MJH_JSON_NOT_OBJECT},
    {"\"x\" y", MJH_JSON_NOT_OBJECT},
    {"truex", MJH_JSON_NOT_OBJECT},
    {"01", MJH_JSON_NOT_OBJECT},
    {"[1] {}", MJH_JSON_NOT_OBJECT},
    {"[1,", MJH_JSON_SYNTAX},
    {"x", MJH_JSON_SYNTAX},
    // After the object.
    {"{} ", MJH_JSON_OK},
    {"{}x", MJH_JSON_TRAILING},
    {"{} {}", MJH_JSON_TRAILING},
    {std::string("{}\0", 3), MJH_JSON_TRAILING},
    {"{}\n\n]", MJH_JSON_TRAILING},
    // Bytes that are not UTF-8 anywhere come before any other fault.
    {"{x \xff", MJH_JSON_NOT_UTF8},
    {"[1] \xc3", MJH_JSON_NOT_UTF8},
    {"{} \xe2\x82", MJH_JSON_NOT_UTF8},
    {"{\"\xf0\x9f\x98\x80\":1}", MJH_JSON_OK},
};

TEST(JsonFaults, AreToldInTheOrderOfTheText) {
  for (const fault_case &c : k_faults) {
    mjh_jtok tokens[MJH_JSON_TOKENS_MAX];
    int count = 77;
    EXPECT_EQ(mjh_json_parse_object(c.text.data(), c.text.size(), tokens, MJH_JSON_TOKENS_MAX, &count), c.want)
        << c.text;
    if (c.want != MJH_JSON_OK) {
      EXPECT_EQ(count, 0) << c.text;
    }
  }
}

// `{"a":` and `depth - 1` arrays around 1: depth containers in all.
std::string nested(int depth, const std::string &inside = "1") {
  return "{\"a\":" + std::string(depth - 1, '[') + inside + std::string(depth - 1, ']') + "}";
}

TEST(JsonFaults, NestingStopsAtTheLimitWhereverItIsPassed) {
  EXPECT_EQ(parse(nested(MJH_JSON_DEPTH_MAX)).error, MJH_JSON_OK);
  EXPECT_EQ(parse(nested(MJH_JSON_DEPTH_MAX + 1)).error, MJH_JSON_TOO_DEEP);
  EXPECT_EQ(parse(nested(MJH_JSON_DEPTH_MAX, "{}")).error, MJH_JSON_TOO_DEEP) << "an object counts as an array does";
  EXPECT_EQ(parse(nested(MJH_JSON_DEPTH_MAX, "[]")).error, MJH_JSON_TOO_DEEP);
  EXPECT_EQ(parse(nested(MJH_JSON_DEPTH_MAX - 1, "{}")).error, MJH_JSON_OK);
  std::string objects;
  for (int i = 0; i < MJH_JSON_DEPTH_MAX; i++) objects += "{\"o\":";
  EXPECT_EQ(parse(objects + "1" + std::string(MJH_JSON_DEPTH_MAX, '}')).error, MJH_JSON_OK);
  EXPECT_EQ(parse(objects + "{}" + std::string(MJH_JSON_DEPTH_MAX, '}')).error, MJH_JSON_TOO_DEEP);
  // Whichever fault the text reaches first is the one told.
  EXPECT_EQ(parse("{\"a\":x," + nested(40).substr(1)).error, MJH_JSON_SYNTAX);
  EXPECT_EQ(parse(nested(40).substr(0, 30) + "x").error, MJH_JSON_TOO_DEEP);
  // Deep texts do not exhaust the stack: the reader stops at the limit.
  EXPECT_EQ(parse(nested(100000)).error, MJH_JSON_TOO_DEEP);
}

// {"a":[1,1,...]}: n ones, n + 3 tokens.
std::string ones(int n, const std::string &after = "") {
  std::string text = "{\"a\":[";
  for (int i = 0; i < n; i++) text += i ? ",1" : "1";
  return text + "]}" + after;
}

TEST(JsonFaults, TooManyTokensComeAfterTheWholeTextIsChecked) {
  mjh_jtok tokens[12];
  for (mjh_jtok &t : tokens) t = {MJH_JSON_ARRAY, -7, -7, -7, -7};
  int count = 0;
  std::string text = ones(7);
  EXPECT_EQ(mjh_json_parse_object(text.data(), text.size(), tokens, 10, &count), MJH_JSON_OK);
  EXPECT_EQ(count, 10) << "exactly the limit";
  text = ones(8);
  EXPECT_EQ(mjh_json_parse_object(text.data(), text.size(), tokens, 10, &count), MJH_JSON_TOO_MANY);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(tokens[10].start, -7) << "nothing written past the limit";
  EXPECT_EQ(tokens[11].start, -7);
  // A fault later in the text is told first.
  text = ones(8, " x");
  EXPECT_EQ(mjh_json_parse_object(text.data(), text.size(), tokens, 10, &count), MJH_JSON_TRAILING);
  text = ones(8).insert(ones(8).size() - 2, ",");
  EXPECT_EQ(mjh_json_parse_object(text.data(), text.size(), tokens, 10, &count), MJH_JSON_SYNTAX);
  text = ones(8).replace(6, 1, std::string(MJH_JSON_DEPTH_MAX, '[') + "1" + std::string(MJH_JSON_DEPTH_MAX, ']'));
  EXPECT_EQ(mjh_json_parse_object(text.data(), text.size(), tokens, 10, &count), MJH_JSON_TOO_DEEP);
  // The caller's limit is at most MJH_JSON_TOKENS_MAX.
  EXPECT_EQ(parse(ones(MJH_JSON_TOKENS_MAX - 3), 100000).error, MJH_JSON_OK);
  EXPECT_EQ(parse(ones(MJH_JSON_TOKENS_MAX - 2), 100000).error, MJH_JSON_TOO_MANY);
}

// ---- Numbers and words ----------------------------------------------------------------

TEST(JsonValues, NumbersAndWordsAreJsonsOwn) {
  const char *accepted[] = {"0",
                            "-0",
                            "7",
                            "-12",
                            "1.5",
                            "-0.25",
                            "1e9",
                            "1E+9",
                            "2e-3",
                            "0.0e0",
                            "1.0E-00",
                            "true",
                            "false",
                            "null",
                            "123456789012345678901234567890",
                            "-1e400",
                            "0.000000000000001"};
  for (const char *value : accepted) EXPECT_EQ(parse_value(value).error, MJH_JSON_OK) << value;
  const char *refused[] = {"01",  "-01", "+1",  "-",        ".5",        "1.",   "1.e3", "1e",  "1e+", "--1",
                           "0x1", "1_0", "NaN", "Infinity", "-Infinity", "True", "nul",  "tru", "1 2", "'a'"};
  for (const char *value : refused) EXPECT_EQ(parse_value(value).error, MJH_JSON_SYNTAX) << value;
}

TEST(JsonValues, WholeNumbersAndBooleansReadOnlyTheirOwnForms) {
  struct {
    const char *value;
    bool whole;
    long long number;
  } cases[] = {
      {"0", true, 0},
      {"-0", true, 0},
      {"200", true, 200},
      {"-200", true, -200},
      {"201", false, 0},
      {"-201", false, 0},
      {"1.0", false, 0},
      {"1e2", false, 0},
      {"true", false, 0},
      {"\"5\"", false, 0},
      {"null", false, 0},
      {"[5]", false, 0},
      {"99999999999999999999999999", false, 0},
  };
  for (const auto &c : cases) {
    const std::string text = std::string("{\"k\":") + c.value + "}";
    parsed p = parse(text);
    ASSERT_EQ(p.error, MJH_JSON_OK) << c.value;
    long long n = 12345;
    EXPECT_EQ(mjh_json_whole(text.c_str(), &p.tokens[2], -200, 200, &n), c.whole) << c.value;
    EXPECT_EQ(n, c.whole ? c.number : 12345) << c.value;
    bool b = true;
    EXPECT_EQ(mjh_json_bool(text.c_str(), &p.tokens[2], &b), strcmp(c.value, "true") == 0) << c.value;
  }
  const std::string text = R"({"k":false})";
  parsed p = parse(text);
  bool b = true;
  ASSERT_TRUE(mjh_json_bool(text.c_str(), &p.tokens[2], &b));
  EXPECT_FALSE(b);
}

// ---- Strings -----------------------------------------------------------------------------

TEST(JsonStrings, EscapesAreCheckedAndDecoded) {
  struct {
    const char *value;  // as the text writes it, quotes included
    std::string decoded;
  } cases[] = {
      {R"("plain")", "plain"},
      {R"("\"\\\/")", "\"\\/"},
      {R"("\b\f\n\r\t")", "\b\f\n\r\t"},
      {R"("\u0041\u00e9\u20ac")", "A\xc3\xa9\xe2\x82\xac"},
      {R"("\u00E9")", "\xc3\xa9"},
      {R"("\ud83d\ude00")", "\xf0\x9f\x98\x80"},  // a surrogate pair: one character
      {R"("\uDBFF\uDFFF")", "\xf4\x8f\xbf\xbf"},
      {R"("a\u0000b")", std::string("a\0b", 3)},
      {"\"\xc3\xa9 \xf0\x9f\x98\x80\"", "\xc3\xa9 \xf0\x9f\x98\x80"},
  };
  for (const auto &c : cases) {
    const std::string text = std::string("{\"k\":") + c.value + "}";
    parsed p = parse(text);
    ASSERT_EQ(p.error, MJH_JSON_OK) << c.value;
    char out[64];
    int n = mjh_json_string(text.c_str(), &p.tokens[2], out, sizeof out);
    ASSERT_EQ(n, static_cast<int>(c.decoded.size())) << c.value;
    EXPECT_EQ(std::string(out, n), c.decoded) << c.value;
    EXPECT_EQ(out[n], '\0');
  }
  const char *refused[] = {
      R"("\x")",           R"("\U0041")",       R"("\u12")",         R"("\u12g4")",  R"("\ud800")",  R"("\udc00")",
      R"("\udc00\ud800")", R"("\ud800\u0041")", R"("\ud800\ud800")", R"("\ud800x")", R"("\ud800\")", R"("\")",
      "\"a\tb\"",          "\"a\nb\"",          "\"a\x01\"",         "\"open",
  };
  for (const char *value : refused) EXPECT_EQ(parse_value(value).error, MJH_JSON_SYNTAX) << value;
}

TEST(JsonStrings, ADecodedTextFitsWholeOrIsCutAtACharacter) {
  const std::string text = R"({"k":"ab\u00e9\ud83d\ude00"})";  // 2 + 2 + 4 bytes decoded
  parsed p = parse(text);
  ASSERT_EQ(p.error, MJH_JSON_OK);
  const mjh_jtok *t = &p.tokens[2];
  char out[16];
  EXPECT_EQ(mjh_json_string(text.c_str(), t, out, 9), 8) << "the NUL fits";
  EXPECT_EQ(mjh_json_string(text.c_str(), t, out, 8), -1);
  EXPECT_EQ(mjh_json_string(text.c_str(), t, out, 0), -1);
  struct {
    size_t size, kept;
  } cuts[] = {{9, 8}, {8, 4}, {5, 4}, {4, 2}, {3, 2}, {2, 1}, {1, 0}};
  for (const auto &c : cuts) {
    memset(out, 'x', sizeof out);
    EXPECT_EQ(mjh_json_string_cut(text.c_str(), t, out, c.size), c.kept) << c.size;
    EXPECT_EQ(out[c.kept], '\0') << c.size;
  }
  EXPECT_EQ(mjh_json_string(text.c_str(), &p.tokens[0], out, sizeof out), -1) << "not a string";
  EXPECT_TRUE(mjh_json_string_is(text.c_str(), t, "ab\xc3\xa9\xf0\x9f\x98\x80"));
  EXPECT_FALSE(mjh_json_string_is(text.c_str(), t, "ab\xc3\xa9"));
  EXPECT_FALSE(mjh_json_string_is(text.c_str(), &p.tokens[1], "k\\"));
}

// ---- Messages ---------------------------------------------------------------------------

// What a refused options text says.
std::string options_error(const std::string &text) {
  mjh_options o;
  mjh_options_default(&o);
  mjh_text_buffer<256> err;
  EXPECT_FALSE(mjh_options_parse(text.data(), text.size(), MJH_KEYS_ALL, &o, nullptr, &err)) << text;
  return err.c_str();
}

TEST(JsonMessages, ShowARefusedValueOnOneLine) {
  struct {
    std::string text;
    const char *message;
  } cases[] = {
      {"{\"dx\":[1,\n\t2]}", R"("dx" must be a whole number from -200 to 200, not [1,\n\t2])"},
      {"{\"keep_awake\":{\r\n}}", R"("keep_awake" must be true or false, not {\r\n})"},
      {R"({"mode":"zen\n"})", R"("mode" must be "zen" or "move", not "zen\n")"},
      {R"({"mode":"\u0007"})", R"("mode" must be "zen" or "move", not "\u0007")"},
      {R"({"a\nb":1})", R"(unknown key "a\nb")"},
      {R"({"a\u0001\"b":1})", R"(unknown key "a\u0001\"b")"},
      {R"({"\t":1})", R"(unknown key "\t")"},
  };
  for (const auto &c : cases) EXPECT_EQ(options_error(c.text), c.message) << c.text;

  // A request's values, schedules' included, the same way.
  struct {
    std::string line;
    const char *shown;  // in the message
  } requests[] = {
      {R"({"cmd":"start","options":{"hours":"09:00-17:00\n"}})", R"("17:00\n")"},
      {R"({"cmd":"start","options":{"days":"mon\r\nfri"}})", R"("mon\r\nfri")"},
      {R"({"cmd":"start","options":{"for":"1h\u0000"}})", R"("1h\u0000")"},
      {R"({"cmd":"stat\nus"})", R"("stat\nus")"},
      {R"({"cmd":"start","options":{"until":"17:30\r"}})", R"("17:30\r")"},
      {"{\"cmd\":\"start\",\"options\":[\t]}", R"([\t])"},
  };
  for (const auto &r : requests) {
    mjh_request out;
    mjh_text_buffer<256> err;
    EXPECT_FALSE(mjh_request_parse(r.line.data(), r.line.size(), nullptr, &out, &err)) << r.line;
    const std::string message = err.c_str();
    EXPECT_NE(message.find(r.shown), std::string::npos) << r.line << ": " << message;
    for (char ch : message) EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << r.line << ": " << message;
  }
}

TEST(JsonMessages, ALongValueOrKeyIsShortened) {
  EXPECT_EQ(options_error("{\"dx\":[" + std::string(30, ' ') + "\n" + std::string(30, ' ') + "1]}"),
            "\"dx\" must be a whole number from -200 to 200, not [" + std::string(30, ' ') + "\\n" +
                std::string(4, ' ') + "...");
  // A key of 40 line breaks, written as escapes: decoded, shortened, escaped again.
  std::string breaks, shown;
  for (int i = 0; i < 40; i++) breaks += "\\n";
  for (int i = 0; i < 29; i++) shown += "\\n";
  EXPECT_EQ(options_error("{\"" + breaks + "\":1}"), "unknown key \"" + shown + "...\"");
  // null err: nothing to write, still refused.
  mjh_options o;
  mjh_options_default(&o);
  EXPECT_FALSE(mjh_options_parse("{\"dx\":[1]}", 10, MJH_KEYS_ALL, &o, nullptr, nullptr));
}

}  // namespace
