// The agent's control protocol: the line reader, requests (every malformed
// kind gets an error and changes nothing) and replies, written and read back.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "protocol.h"

namespace {

// A status line as the DLL writes it (the worked example of the status tests).
const char k_status_line[] =
    "{\"active\":1,\"mode\":\"move\",\"interval_s\":30,\"dx\":2,\"dy\":0,\"only_when_idle\":1,\"dry_run\":0,"
    "\"nudges\":2,\"skipped\":1,\"failed\":0,\"idle_s\":4,\"since_last_nudge_s\":9,\"next_nudge_in_s\":26,"
    "\"running_s\":100,\"last_reset_idle\":1,\"last_method\":\"SendInput move\",\"platform\":\"windows\","
    "\"mechanism\":\"SendInput\",\"version\":\"1.0.0\"}";

// The fields of a status read, in one comparable text.
std::string status_text(const mjh_status &s) {
  char buf[512];
  snprintf(buf, sizeof buf, "%d %s %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %s", s.active,
           mj_mode_name(s.mode), s.interval_s, s.dx, s.dy, s.only_when_idle, s.dry_run, s.nudges, s.skipped, s.failed,
           s.idle_s, s.since_last_nudge_s, s.next_nudge_in_s, s.running_s, s.last_reset_idle, s.last_method);
  return buf;
}

// ---- The line reader ------------------------------------------------------------

// Feeds the chunks in order and collects every line and every too-long.
std::vector<std::string> read_lines(const std::vector<std::string> &chunks) {
  mjh_line_reader r;
  mjh_line_reader_init(&r);
  std::vector<std::string> lines;
  for (const std::string &chunk : chunks) {
    size_t at = 0;
    while (at < chunk.size()) {
      size_t used = 12345;
      mjh_line_result result = mjh_line_reader_feed(&r, chunk.data() + at, chunk.size() - at, &used);
      EXPECT_LE(used, chunk.size() - at);
      at += used;
      if (result == MJH_LINE_READY) {
        EXPECT_EQ(r.line[r.len], '\0');
        lines.push_back(std::string(r.line, r.len));
        mjh_line_reader_next(&r);
      } else if (result == MJH_LINE_TOO_LONG) {
        lines.push_back("<too long>");
        return lines;
      } else {
        EXPECT_EQ(at, chunk.size());
      }
    }
  }
  return lines;
}

using lines = std::vector<std::string>;

TEST(LineReader, SplitsLinesWhereverTheBytesBreak) {
  EXPECT_EQ(read_lines({"{\"cmd\":\"status\"}\n"}), lines({"{\"cmd\":\"status\"}"}));
  EXPECT_EQ(read_lines({"a\nb\n"}), lines({"a", "b"}));
  EXPECT_EQ(read_lines({"a\r\nb\r\n"}), lines({"a", "b"}));
  EXPECT_EQ(read_lines({"\n", "\r\n"}), lines({"", ""}));
  EXPECT_EQ(read_lines({"a\rb\n"}), lines({"a\rb"}));  // only a '\r' right before '\n' goes
  EXPECT_EQ(read_lines({"half"}), lines({}));
  EXPECT_EQ(read_lines({"a\nhalf"}), lines({"a"}));
  EXPECT_EQ(read_lines({"a\r", "\n"}), lines({"a"}));
  EXPECT_EQ(read_lines({std::string("a\0b\n", 4)}), lines({std::string("a\0b", 3)}));

  // One byte per feed.
  std::string text = "{\"cmd\":\"start\"}\r\n{\"cmd\":\"stop\"}\n";
  std::vector<std::string> bytes;
  for (char c : text) bytes.push_back(std::string(1, c));
  EXPECT_EQ(read_lines(bytes), lines({"{\"cmd\":\"start\"}", "{\"cmd\":\"stop\"}"}));
}

TEST(LineReader, TheLimitCountsTheLineEnd) {
  const std::string longest(MJH_REQUEST_MAX - 1, 'x');
  EXPECT_EQ(read_lines({longest + "\n"}), lines({longest}));
  EXPECT_EQ(read_lines({longest + "x\n"}), lines({"<too long>"}));
  EXPECT_EQ(read_lines({longest.substr(1) + "\r\n"}), lines({longest.substr(1)}));
  EXPECT_EQ(read_lines({longest + "\r\n"}), lines({"<too long>"}));
  // A client that never ends its line is cut off without waiting for a '\n'.
  EXPECT_EQ(read_lines({longest, "y"}), lines({"<too long>"}));
  EXPECT_EQ(read_lines({"ok\n", std::string(100000, 'z')}), lines({"ok", "<too long>"}));
}

TEST(LineReader, StaysReadyUntilNextAndDropsAfterTooLong) {
  mjh_line_reader r;
  mjh_line_reader_init(&r);
  size_t used;
  EXPECT_EQ(mjh_line_reader_feed(&r, "a\nb\n", 4, &used), MJH_LINE_READY);
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(mjh_line_reader_feed(&r, "b\n", 2, &used), MJH_LINE_READY);
  EXPECT_EQ(used, 0u);
  EXPECT_STREQ(r.line, "a");
  mjh_line_reader_next(&r);
  EXPECT_EQ(mjh_line_reader_feed(&r, "b\n", 2, &used), MJH_LINE_READY);
  EXPECT_STREQ(r.line, "b");
  mjh_line_reader_next(&r);

  std::string flood(MJH_REQUEST_MAX + 10, 'f');
  EXPECT_EQ(mjh_line_reader_feed(&r, flood.data(), flood.size(), &used), MJH_LINE_TOO_LONG);
  EXPECT_EQ(used, flood.size());
  EXPECT_EQ(mjh_line_reader_feed(&r, "x\n", 2, &used), MJH_LINE_TOO_LONG);
  EXPECT_EQ(used, 2u);
  mjh_line_reader_init(&r);
  EXPECT_EQ(mjh_line_reader_feed(&r, "x\n", 2, &used), MJH_LINE_READY);
  EXPECT_STREQ(r.line, "x");
}

// ---- Requests -------------------------------------------------------------------------

std::string repeat(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

const mjh_options k_saved = {MJ_MODE_MOVE, 30, 2, -3, 0, 0, 1};

struct request_case {
  std::string line;
  const char *error;  // null: accepted
  mjh_command cmd;
  unsigned given;
  mjh_options options;
};

const request_case k_requests[] = {
    {R"({"cmd":"status"})", nullptr, MJH_CMD_STATUS, 0, k_saved},
    {R"({"cmd":"stop"})", nullptr, MJH_CMD_STOP, 0, k_saved},
    {R"({"cmd":"nudge"})", nullptr, MJH_CMD_NUDGE, 0, k_saved},
    {R"({"cmd":"quit"})", nullptr, MJH_CMD_QUIT, 0, k_saved},
    {R"({"cmd":"start"})", nullptr, MJH_CMD_START, 0, k_saved},
    {R"( { "cmd" : "start" , "options" : { } } )", nullptr, MJH_CMD_START, 0, k_saved},
    {R"({"options":{"mode":"zen","interval_s":5},"cmd":"start"})",
     nullptr,
     MJH_CMD_START,
     MJH_KEY_MODE | MJH_KEY_INTERVAL_S,
     {MJ_MODE_ZEN, 5, 2, -3, 0, 0, 1}},
    {R"({"cmd":"start","options":{"keep_awake":false,"dry_run":true}})",
     nullptr,
     MJH_CMD_START,
     MJH_KEY_KEEP_AWAKE | MJH_KEY_DRY_RUN,
     {MJ_MODE_MOVE, 30, 2, -3, 0, 1, 0}},
    {R"({"cmd":"st\u0061tus"})", nullptr, MJH_CMD_STATUS, 0, k_saved},

    {"", "empty request", MJH_CMD_STATUS, 0, {}},
    {"   ", "empty request", MJH_CMD_STATUS, 0, {}},
    {"status", "not JSON", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"status")", "not JSON", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"status",})", "not JSON", MJH_CMD_STATUS, 0, {}},
    {R"(["status"])", "not a JSON object", MJH_CMD_STATUS, 0, {}},
    {R"("status")", "not a JSON object", MJH_CMD_STATUS, 0, {}},
    {"42", "not a JSON object", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"status"}{"cmd":"stop"})", "not one JSON object: text after its end", MJH_CMD_STATUS, 0, {}},
    {"{\"cmd\":\"st\xc3\"}", "not UTF-8", MJH_CMD_STATUS, 0, {}},
    {std::string("{\"cmd\":\"status\"}\0", 17), "NUL byte in the request", MJH_CMD_STATUS, 0, {}},
    {std::string("{\"cmd\":\"st\0atus\"}", 17), "NUL byte in the request", MJH_CMD_STATUS, 0, {}},
    {"{}", "missing \"cmd\"", MJH_CMD_STATUS, 0, {}},
    {R"({"options":{}})", "missing \"cmd\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"go"})", "unknown command \"go\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"STATUS"})", "unknown command \"STATUS\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":""})", "unknown command \"\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":3})", "\"cmd\" must be a command name, not 3", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":["status"]})", "\"cmd\" must be a command name, not [\"status\"]", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":null})", "\"cmd\" must be a command name, not null", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"status","cmd":"stop"})", "duplicate key \"cmd\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"start","options":{},"options":{}})", "duplicate key \"options\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"status","verbose":true})", "unknown key \"verbose\"", MJH_CMD_STATUS, 0, {}},
    {R"({"command":"status"})", "unknown key \"command\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"stop","options":{}})", "\"options\" is only for \"start\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"nudge","options":{"mode":"move"}})", "\"options\" is only for \"start\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"start","options":3})", "\"options\" must be an object, not 3", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"start","options":"{}"})", "\"options\" must be an object, not \"{}\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"start","options":[]})", "\"options\" must be an object, not []", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"start","options":{"dx":300}})",
     "\"dx\" must be a whole number from -200 to 200, not 300",
     MJH_CMD_STATUS,
     0,
     {}},
    {R"({"cmd":"start","options":{"speed":2}})", "unknown key \"speed\"", MJH_CMD_STATUS, 0, {}},
    {R"({"cmd":"start","options":{"dx":1,"dx":2}})", "duplicate key \"dx\"", MJH_CMD_STATUS, 0, {}},
    {"{\"cmd\":\"start\",\"options\":{\"a\":[" + std::string(200, '[') + std::string(200, ']') + "]}}",
     "nested too deeply",
     MJH_CMD_STATUS,
     0,
     {}},
    {"{\"cmd\":\"status\",\"x\":[" + repeat("1,", 100) + "1]}", "too many values", MJH_CMD_STATUS, 0, {}},
    {"{\"cmd\":\"status\",\"pad\":\"" + std::string(MJH_REQUEST_MAX, ' ') + "\"}",
     "request too long",
     MJH_CMD_STATUS,
     0,
     {}},
};

class Requests : public ::testing::TestWithParam<request_case> {};

TEST_P(Requests, AreReadOrRefusedWithAMessage) {
  const request_case &c = GetParam();
  mjh_request out, before;
  memset(&out, 0x3c, sizeof out);
  before = out;
  mjh_text_buffer<160> err;
  bool ok = mjh_request_parse(c.line.data(), c.line.size(), &k_saved, &out, &err);
  if (c.error == nullptr) {
    ASSERT_TRUE(ok) << c.line << ": " << err.c_str();
    EXPECT_EQ(out.cmd, c.cmd);
    EXPECT_EQ(out.given, c.given);
    EXPECT_EQ(memcmp(&out.options, &c.options, sizeof out.options), 0) << c.line;
    EXPECT_EQ(err.size(), 0u);
  } else {
    EXPECT_FALSE(ok) << c.line;
    EXPECT_STREQ(err.c_str(), c.error) << c.line;
    EXPECT_EQ(memcmp(&out, &before, sizeof out), 0) << c.line;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Requests, ::testing::ValuesIn(k_requests));

// Two requests in one read, the first ended by CRLF: each gets its answer.
TEST(Requests, TwoInOneFeedAreReadInTurn) {
  const std::string bytes = "{\"cmd\":\"start\",\"options\":{\"dx\":5}}\r\n{\"cmd\":\"stop\"}\n";
  mjh_line_reader r;
  mjh_line_reader_init(&r);
  std::vector<mjh_request> got;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t used;
    mjh_line_result result = mjh_line_reader_feed(&r, bytes.data() + at, bytes.size() - at, &used);
    at += used;
    ASSERT_EQ(result, MJH_LINE_READY);
    mjh_request out;
    mjh_text_buffer<128> err;
    ASSERT_TRUE(mjh_request_parse(r.line, r.len, &k_saved, &out, &err)) << err.c_str();
    got.push_back(out);
    mjh_line_reader_next(&r);
  }
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].cmd, MJH_CMD_START);
  EXPECT_EQ(got[0].given, (unsigned)MJH_KEY_DX);
  EXPECT_EQ(got[0].options.dx, 5);
  EXPECT_EQ(got[1].cmd, MJH_CMD_STOP);
}

TEST(Requests, WithoutSavedSettingsStartFromTheDefaults) {
  mjh_request out;
  mjh_text_buffer<128> err;
  const std::string line = R"({"cmd":"start","options":{"dx":7}})";
  ASSERT_TRUE(mjh_request_parse(line.data(), line.size(), nullptr, &out, &err)) << err.c_str();
  mjh_options want;
  mjh_options_default(&want);
  want.dx = 7;
  EXPECT_EQ(memcmp(&out.options, &want, sizeof want), 0);
}

// What mjctl writes, the agent reads: every command, every subset of keys.
TEST(Requests, FormattedRequestsReadBack) {
  const mjh_options options = {MJ_MODE_MOVE, 3600, -200, 200, 0, 1, 1};
  mjh_options defaults;
  mjh_options_default(&defaults);
  for (int cmd = MJH_CMD_STATUS; cmd <= MJH_CMD_QUIT; cmd++) {
    for (unsigned keys = 0; keys <= MJH_KEYS_ALL; keys++) {
      mjh_text_buffer<MJH_REQUEST_MAX> buf;
      ASSERT_TRUE(mjh_request_format((mjh_command)cmd, &options, keys, nullptr, buf));
      ASSERT_TRUE(buf.ok());
      const size_t len = buf.size();
      ASSERT_EQ(buf.last(), '\n');
      // Through the line reader, as the agent gets it.
      mjh_line_reader r;
      mjh_line_reader_init(&r);
      size_t used;
      ASSERT_EQ(mjh_line_reader_feed(&r, buf.c_str(), len, &used), MJH_LINE_READY);
      EXPECT_EQ(used, len);
      mjh_request out;
      mjh_text_buffer<128> err;
      ASSERT_TRUE(mjh_request_parse(r.line, r.len, &defaults, &out, &err)) << buf.c_str() << err.c_str();
      EXPECT_EQ(out.cmd, cmd);
      unsigned sent = cmd == MJH_CMD_START ? keys : 0;
      EXPECT_EQ(out.given, sent) << buf.c_str();
      mjh_options want = defaults;
      if (sent & MJH_KEY_MODE) want.mode = options.mode;
      if (sent & MJH_KEY_INTERVAL_S) want.interval_s = options.interval_s;
      if (sent & MJH_KEY_DX) want.dx = options.dx;
      if (sent & MJH_KEY_DY) want.dy = options.dy;
      if (sent & MJH_KEY_ONLY_WHEN_IDLE) want.only_when_idle = options.only_when_idle;
      if (sent & MJH_KEY_DRY_RUN) want.dry_run = options.dry_run;
      if (sent & MJH_KEY_KEEP_AWAKE) want.keep_awake = options.keep_awake;
      EXPECT_EQ(memcmp(&out.options, &want, sizeof want), 0) << buf.c_str();
    }
  }
  // Each command by its name.
  const char *const names[] = {"status", "start", "stop", "nudge", "quit", "show"};
  char buf[64];
  for (int cmd = MJH_CMD_STATUS; cmd <= MJH_CMD_SHOW; cmd++) {
    mjh_text line(buf);
    EXPECT_TRUE(mjh_request_format((mjh_command)cmd, nullptr, MJH_KEYS_ALL, nullptr, line));
    EXPECT_TRUE(line.ok());
    EXPECT_EQ(std::string(buf), std::string("{\"cmd\":\"") + names[cmd] + "\"}\n");
  }
  mjh_text start(buf);  // does not fit: the builder says so, the caller sends nothing
  EXPECT_TRUE(mjh_request_format(MJH_CMD_START, &options, MJH_KEYS_ALL, nullptr, start));
  EXPECT_FALSE(start.ok());
  EXPECT_EQ(std::string(buf).rfind("{\"cmd\":\"start\",\"options\":{\"mode\":\"move\"", 0), 0u) << buf;
  for (int cmd : {6, 99, -1}) {
    mjh_text unknown(buf);
    EXPECT_FALSE(mjh_request_format((mjh_command)cmd, nullptr, 0, nullptr, unknown)) << cmd;
    EXPECT_STREQ(buf, "") << cmd;
  }
}

// ---- Replies -----------------------------------------------------------------------------

TEST(Replies, OkAndErrorReadBack) {
  mjh_text_buffer<MJH_REPLY_MAX> buf;
  mjh_reply r;
  mjh_reply_ok(buf);
  EXPECT_STREQ(buf.c_str(), "{\"ok\":true}\n");
  ASSERT_TRUE(mjh_reply_read(buf.c_str(), buf.size(), &r));
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(r.has_run, 0);

  const char *message = "\"dx\" must be a whole number from -200 to 200, not \"\\\"\"\ttab \xc3\xa9";
  buf.clear();
  mjh_reply_error(message, buf);
  EXPECT_EQ(std::string(buf.c_str()),
            "{\"ok\":false,\"error\":\"\\\"dx\\\" must be a whole number from -200 to 200, not "
            "\\\"\\\\\\\"\\\"\\ttab \xc3\xa9\"}\n");
  ASSERT_TRUE(mjh_reply_read(buf.c_str(), buf.size(), &r));
  EXPECT_EQ(r.ok, 0);
  EXPECT_STREQ(r.error, message);

  // Bytes that are not UTF-8 cannot break the reply.
  buf.clear();
  mjh_reply_error("bad \xff byte", buf);
  ASSERT_TRUE(mjh_reply_read(buf.c_str(), buf.size(), &r));
  EXPECT_STREQ(r.error, "bad ? byte");

  // A long message is cut, not lost, and read back cut to the field.
  std::string longer(3000, 'e');
  buf.clear();
  mjh_reply_error(longer.c_str(), buf);
  ASSERT_TRUE(buf.ok());
  EXPECT_EQ(std::string(buf.c_str()), "{\"ok\":false,\"error\":\"" + std::string(508, 'e') + "...\"}\n");
  ASSERT_TRUE(mjh_reply_read(buf.c_str(), buf.size(), &r));
  EXPECT_EQ(strlen(r.error), sizeof r.error - 1);
  char small[10];
  mjh_text cut(small);
  mjh_reply_error("x", cut);
  EXPECT_FALSE(cut.ok());
}

// A status reply, written whole.
std::string status_reply(const mjh_agent_state &a, const char *run_line) {
  mjh_text_buffer<MJH_REPLY_MAX> out;
  mjh_reply_status(&a, run_line, out);
  EXPECT_TRUE(out.ok());
  return out.c_str();
}

mjh_agent_state agent_state() {
  mjh_agent_state a = {};
  a.settings = {MJ_MODE_MOVE, 5, -2, 3, 0, 1, 1};
  a.run_on = 1;
  a.keep_awake_held = 1;
  a.failing = 1;
  a.last_error = "SendInput failed (err 5) - \"desktop\" locked";
  a.pid = 4294967295UL;
  a.version = "1.0.0";
  return a;
}

TEST(Replies, StatusReadsBackWhole) {
  const mjh_agent_state a = agent_state();
  mjh_text_buffer<MJH_REPLY_MAX> reply;
  mjh_reply_status(&a, k_status_line, reply);
  ASSERT_TRUE(reply.ok());
  const char *buf = reply.c_str();
  const size_t len = reply.size();
  EXPECT_EQ(buf[len - 1], '\n');
  EXPECT_NE(std::string(buf).find(std::string("\"run\":") + k_status_line + ",\"agent\":{"), std::string::npos);

  mjh_reply r;
  ASSERT_TRUE(mjh_reply_read(buf, len, &r)) << buf;
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(r.has_run, 1);
  mjh_status want;
  ASSERT_TRUE(mjh_status_read(k_status_line, &want));
  EXPECT_EQ(status_text(r.run), status_text(want));
  EXPECT_EQ(memcmp(&r.settings, &a.settings, sizeof a.settings), 0);
  EXPECT_EQ(r.run_on, 1);
  EXPECT_EQ(r.keep_awake_held, 1);
  EXPECT_EQ(r.failing, 1);
  EXPECT_STREQ(r.last_error, a.last_error);
  EXPECT_EQ(r.pid, 4294967295UL);
  EXPECT_STREQ(r.version, "1.0.0");

  EXPECT_EQ(r.keep_display_held, 0) << "the system alone";

  // Without its line end, and with CRLF.
  ASSERT_EQ(mjh_reply_read(buf, len - 1, &r), 1);
  std::string crlf = std::string(buf, len - 1) + "\r\n";
  ASSERT_EQ(mjh_reply_read(crlf.data(), crlf.size(), &r), 1);

  // Too small a buffer: the builder says so.
  std::string small(len, 'x');
  mjh_text cut(small.data(), len);
  mjh_reply_status(&a, k_status_line, cut);
  EXPECT_FALSE(cut.ok());
}

TEST(Replies, AStatusLineThatIsNotAnObjectBecomesNull) {
  mjh_agent_state a = agent_state();
  a.failing = 0;
  for (const char *bad : {(const char *)nullptr, "", "{\"active\":1", "{} x", "[1]"}) {
    mjh_text_buffer<MJH_REPLY_MAX> buf;
    mjh_reply_status(&a, bad, buf);
    ASSERT_TRUE(buf.ok());
    EXPECT_EQ(std::string(buf.c_str()).rfind("{\"ok\":true,\"run\":null,\"agent\":{", 0), 0u) << buf.c_str();
    mjh_reply r;
    ASSERT_TRUE(mjh_reply_read(buf.c_str(), buf.size(), &r)) << buf.c_str();
    EXPECT_EQ(r.has_run, 1);
    EXPECT_EQ(r.run.active, 0);
  }
}

// A newer agent may add members (a schedule, say); this reader passes over them.
TEST(Replies, MembersOfANewerAgentArePassedOver) {
  std::string reply = std::string("{\"ok\":true,\"new\":[1,{\"a\":2}],\"run\":") + k_status_line +
                      ",\"agent\":{\"pid\":7,\"schedule\":{\"days\":[1,2,3],\"from\":\"09:00\"},\"version\":\"1.1.0\","
                      "\"run_on\":false,\"keep_awake\":false,\"failing\":false,\"last_error\":\"\","
                      "\"settings\":{\"mode\":\"zen\",\"interval_s\":60,\"dx\":1,\"dy\":1,\"only_when_idle\":true,"
                      "\"dry_run\":false,\"keep_awake\":false,\"hours\":\"9-17\"},\"later\":null}}\n";
  mjh_reply r;
  ASSERT_EQ(mjh_reply_read(reply.data(), reply.size(), &r), 1);
  EXPECT_EQ(r.pid, 7u);
  EXPECT_STREQ(r.version, "1.1.0");
  EXPECT_EQ(r.run_on, 0);
  EXPECT_EQ(r.run.nudges, 2);
}

// An older agent held the system and the display together and said
// "keep_awake" alone: the display goes with it.
TEST(Replies, WithoutKeepDisplayTheDisplayGoesWithKeepAwake) {
  for (bool held : {false, true}) {
    std::string reply = std::string("{\"ok\":true,\"run\":null,\"agent\":{\"pid\":7,\"version\":\"1\",") +
                        "\"run_on\":true,\"keep_awake\":" + (held ? "true" : "false") +
                        ",\"failing\":false,\"last_error\":\"\",\"settings\":{}}}";
    mjh_reply r;
    ASSERT_EQ(mjh_reply_read(reply.data(), reply.size(), &r), 1);
    EXPECT_EQ(r.keep_awake_held, held);
    EXPECT_EQ(r.keep_display_held, held);
  }
}

// The state, its reason, the conditions and the policies read back; one of
// them in another form is passed over alone, the rest of the reply kept.
TEST(Replies, StateConditionsAndPoliciesReadBackOrArePassedOverAlone) {
  mjh_agent_state a = agent_state();
  a.state = "waiting";
  a.reason = "for obs64.exe or mstsc.exe";
  a.elevated = true;
  a.conditions_json = R"({"while_running":"obs64.exe,mstsc.exe","foreground":true,"ac_only":false,"battery_floor":20})";
  mjh_value machine[MJH_POLICY_COUNT] = {};
  machine[MJH_POLICY_MAX_INTERVAL] = {MJH_VALUE_NUMBER, 300, nullptr};
  mjh_value user[MJH_POLICY_COUNT] = {};
  user[MJH_POLICY_KEEP_AWAKE] = {MJH_VALUE_TEXT, 0, "on"};  // damaged
  mjh_policy policy;
  mjh_policy_read(machine, user, &policy);
  mjh_text_buffer<1024> policy_json;
  mjh_policy_json(policy, policy_json);
  a.policy_json = policy_json.c_str();
  mjh_text_buffer<MJH_REPLY_MAX> reply;
  mjh_reply_status(&a, k_status_line, reply);
  ASSERT_TRUE(reply.ok());
  mjh_reply r;
  ASSERT_TRUE(mjh_reply_read(reply.c_str(), reply.size(), &r)) << reply.c_str();
  EXPECT_TRUE(r.has_state);
  EXPECT_STREQ(r.state, "waiting");
  EXPECT_STREQ(r.reason, "for obs64.exe or mstsc.exe");
  EXPECT_TRUE(r.elevated);
  EXPECT_TRUE(r.has_conditions);
  EXPECT_STREQ(r.while_running, "obs64.exe,mstsc.exe");
  EXPECT_TRUE(r.foreground);
  EXPECT_EQ(r.battery_floor, 20);
  EXPECT_EQ(r.policy.max_interval_s, 300);
  EXPECT_EQ(r.policy.from[MJH_POLICY_MAX_INTERVAL], MJH_SCOPE_MACHINE);
  ASSERT_EQ(r.policy.damage_count, 1);
  EXPECT_EQ(r.policy.damage[0].id, MJH_POLICY_KEEP_AWAKE);
  EXPECT_EQ(r.policy.damage[0].scope, MJH_SCOPE_USER);

  const char *other_forms[][2] = {
      {R"("state":"waiting")", R"("state":"asleep")"},
      {R"("battery_floor":20)", R"("battery_floor":"20")"},
      {R"("while_running":"obs64.exe,mstsc.exe")", R"("while_running":"C:\\x.exe")"},
      {R"("in_force":{)", R"("in_force":{"Allowed":{"value":"yes","scope":"machine"},)"},
      {R"("damaged":[)", R"("damaged":[{"name":"Nonsense","scope":"user","problem":""},)"},
  };
  for (const auto &f : other_forms) {
    std::string line = reply.c_str();
    const size_t at = line.find(f[0]);
    ASSERT_NE(at, std::string::npos) << f[0];
    line.replace(at, strlen(f[0]), f[1]);
    mjh_reply o;
    ASSERT_TRUE(mjh_reply_read(line.data(), line.size(), &o)) << line;
    EXPECT_EQ(o.pid, r.pid) << f[1];
    const bool state_kept = std::string(f[0]).find("state") == std::string::npos;
    const bool conditions_kept = std::string(f[0]).find("battery_floor") == std::string::npos &&
                                 std::string(f[0]).find("while_running") == std::string::npos;
    const bool policy_kept = !state_kept || !conditions_kept;
    EXPECT_EQ(o.has_state, state_kept) << f[1];
    EXPECT_EQ(o.has_conditions, conditions_kept) << f[1];
    EXPECT_EQ(mjh_policy_any(o.policy), policy_kept) << f[1];
  }
}

TEST(Replies, WhatIsNotAReplyIsRefusedAndChangesNothing) {
  const mjh_agent_state a = agent_state();
  const std::string good = status_reply(a, k_status_line);
  auto without = [&](const std::string &member) {
    std::string s = good;
    size_t p = s.find(member);
    EXPECT_NE(p, std::string::npos) << member;
    return s.replace(p, member.size(), "\"x\":0,");
  };
  auto with = [&](const std::string &from, const std::string &to) {
    std::string s = good;
    size_t p = s.find(from);
    EXPECT_NE(p, std::string::npos) << from;
    return s.replace(p, from.size(), to);
  };
  const std::string refused[] = {
      "",
      "\n",
      "ok",
      "[]",
      "{}",
      "{\"ok\":1}",
      "{\"ok\":\"true\"}",
      "{\"ok\":false}",
      "{\"ok\":false,\"error\":3}",
      "{\"ok\":true,\"agent\":3}",
      "{\"ok\":true}{\"ok\":true}",
      "{\"ok\":true,\"agent\":{}}",
      good.substr(0, good.size() / 2),
      without("\"pid\":4294967295,"),
      without("\"version\":\"1.0.0\","),
      without("\"run_on\":true,"),
      without("\"keep_awake\":true,"),
      without("\"failing\":true,"),
      with(",\"settings\"", ",\"x\""),
      with("\"pid\":4294967295", "\"pid\":4294967296"),
      with("\"pid\":4294967295", "\"pid\":-1"),
      with("\"pid\":4294967295", "\"pid\":\"1\""),
      with("\"run_on\":true", "\"run_on\":1"),
      with("\"run\":{\"active\":1", "\"run\":{\"active\":\"1\""),
      with("\"run\":{", "\"nur\":{"),
      with("\"settings\":{", "\"settings\":["),
      with("\"settings\":{\"mode\":\"move\"", "\"settings\":{\"mode\":\"fast\""),
      with("\"dx\":-2", "\"dx\":-201"),
      with("\"version\":\"1.0.0\"", "\"version\":\"\xff\""),
      std::string(MJH_REPLY_MAX + 1, ' '),
  };
  for (const std::string &text : refused) {
    mjh_reply r, before;
    memset(&r, 0x11, sizeof r);
    before = r;
    EXPECT_EQ(mjh_reply_read(text.data(), text.size(), &r), 0) << text;
    EXPECT_EQ(memcmp(&r, &before, sizeof r), 0) << text;
  }
  mjh_reply r;
  EXPECT_EQ(mjh_reply_read(nullptr, 0, &r), 0);
}

// ---- Schedules in requests and replies ---------------------------------------------

struct schedule_request_case {
  std::string options;  // the start's "options" object
  const char *error;    // null: accepted
  unsigned given;       // option keys
  unsigned schedule_given;
  const char *hours;  // as mjh_hours_text writes them back
  const char *days;
  int64_t for_s;
  int until_minute;
};

const schedule_request_case k_schedule_requests[] = {
    {R"({"hours":"08:30-12:00,13:00-17:30","days":"mon-fri"})", nullptr, 0, MJH_SCHED_KEY_HOURS | MJH_SCHED_KEY_DAYS,
     "08:30-12:00,13:00-17:30", "mon-fri", 0, 0},
    {R"({"interval_s":30,"for":"1h30m","dx":4})", nullptr, MJH_KEY_INTERVAL_S | MJH_KEY_DX, MJH_SCHED_KEY_FOR, "any",
     "all", 5400, 0},
    {R"({"for":90})", nullptr, 0, MJH_SCHED_KEY_FOR, "any", "all", 90, 0},
    {R"({"until":"17:30","hours":"any"})", nullptr, 0, MJH_SCHED_KEY_UNTIL | MJH_SCHED_KEY_HOURS, "any", "all", 0,
     17 * 60 + 30},
    {R"({"until":"end"})", nullptr, 0, MJH_SCHED_KEY_UNTIL, "any", "all", 0, MJH_UNTIL_END_OF_HOURS},
    {R"({"for":90,"until":"17:30"})", "\"for\" and \"until\" cannot both be given", 0, 0, "", "", 0, 0},
    {R"({"for":0})", "\"for\" must be whole seconds from 1 to 2000000 or a text such as \"1h30m\", not 0", 0, 0, "", "",
     0, 0},
    {R"({"hours":9})", "\"hours\" must be a text such as \"08:30-12:00,13:00-17:30\" or \"any\", not 9", 0, 0, "", "",
     0, 0},
    {R"({"hours":"08:00-12:00","hours":"any"})", "duplicate key \"hours\"", 0, 0, "", "", 0, 0},
    {R"({"until":"25:00"})", nullptr, 0, 0, "", "", 0, 0},  // refused; the message is the parser's
    {R"({"days":"someday"})", nullptr, 0, 0, "", "", 0, 0},
    {R"({"hours":"08:00-12:00","speed":2})", "unknown key \"speed\"", 0, 0, "", "", 0, 0},
    {R"({"hours":"08:00-12:00","dx":300})", "\"dx\" must be a whole number from -200 to 200, not 300", 0, 0, "", "", 0,
     0},
    // The conditions beside the schedule.
    {R"({"while_running":"obs64.exe,MSTSC","foreground":true})", nullptr, 0,
     MJH_SCHED_KEY_WHILE_RUNNING | MJH_SCHED_KEY_FOREGROUND, "any", "all", 0, 0},
    {R"({"ac_only":true,"battery_floor":20,"interval_s":30})", nullptr, MJH_KEY_INTERVAL_S,
     MJH_SCHED_KEY_AC_ONLY | MJH_SCHED_KEY_BATTERY_FLOOR, "any", "all", 0, 0},
    {R"({"battery_floor":0,"while_running":"any"})", nullptr, 0,
     MJH_SCHED_KEY_BATTERY_FLOOR | MJH_SCHED_KEY_WHILE_RUNNING, "any", "all", 0, 0},
    {R"({"battery_floor":4})", "\"battery_floor\" must be 0 (off) or a whole percent from 5 to 95, not 4", 0, 0, "", "",
     0, 0},
    {R"({"battery_floor":"20"})", "\"battery_floor\" must be 0 (off) or a whole percent from 5 to 95, not \"20\"", 0, 0,
     "", "", 0, 0},
    {R"({"ac_only":1})", "\"ac_only\" must be true or false, not 1", 0, 0, "", "", 0, 0},
    {R"({"while_running":["obs64.exe"]})",
     "\"while_running\" must be a text such as \"obs64.exe,mstsc.exe\" or \"any\", not [\"obs64.exe\"]", 0, 0, "", "",
     0, 0},
    {R"({"while_running":"C:\\Tools\\x.exe"})", nullptr, 0, 0, "", "", 0, 0},  // refused: names only
    {R"({"while_running":"a.exe\n"})", nullptr, 0, 0, "", "", 0, 0},
};

class ScheduleRequests : public ::testing::TestWithParam<schedule_request_case> {};

TEST_P(ScheduleRequests, AreReadBesideTheOptionsOrRefusedWhole) {
  const schedule_request_case &c = GetParam();
  const std::string line = R"({"cmd":"start","options":)" + c.options + "}";
  const bool refused = c.error != nullptr || c.schedule_given == 0;
  mjh_request out, before;
  memset(&out, 0x3c, sizeof out);
  before = out;
  mjh_text_buffer<200> err;
  bool ok = mjh_request_parse(line.data(), line.size(), &k_saved, &out, &err);
  if (refused) {
    EXPECT_FALSE(ok) << line;
    if (c.error != nullptr) {
      EXPECT_STREQ(err.c_str(), c.error) << line;
    }
    EXPECT_GT(err.size(), 0u) << line;
    EXPECT_EQ(memcmp(&out, &before, sizeof out), 0) << line;
    return;
  }
  ASSERT_TRUE(ok) << line << ": " << err.c_str();
  EXPECT_EQ(out.given, c.given) << line;
  EXPECT_EQ(out.schedule.given, c.schedule_given) << line;
  mjh_text_buffer<MJH_HOURS_TEXT_MAX> hours;
  mjh_hours_text(&out.schedule.hours, hours);
  EXPECT_STREQ(hours.c_str(), c.hours) << line;
  mjh_text_buffer<MJH_DAYS_TEXT_MAX> days;
  mjh_days_text(out.schedule.hours.days, days);
  EXPECT_STREQ(days.c_str(), c.days) << line;
  EXPECT_EQ(out.schedule.for_s, c.for_s) << line;
  EXPECT_EQ(out.schedule.until_minute, c.until_minute) << line;
  if (out.schedule.given & MJH_SCHED_KEY_WHILE_RUNNING) {
    mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 1> list;
    mjh_programs_text(out.schedule.programs, list);
    EXPECT_STREQ(list.c_str(), c.options.find("any") != std::string::npos ? "any" : "obs64.exe,MSTSC.exe") << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ScheduleRequests, ::testing::ValuesIn(k_schedule_requests));

// Requests without schedule keys carry none, on every command.
TEST(ScheduleRequests, OtherRequestsCarryNone) {
  for (const char *line : {R"({"cmd":"status"})", R"({"cmd":"start"})", R"({"cmd":"start","options":{"dx":2}})"}) {
    mjh_request out;
    memset(&out, 0x3c, sizeof out);
    mjh_text_buffer<128> err;
    ASSERT_TRUE(mjh_request_parse(line, strlen(line), &k_saved, &out, &err)) << err.c_str();
    EXPECT_EQ(out.schedule.given, 0u) << line;
  }
}

// What mjctl writes with a schedule, the agent reads: each schedule with and
// without option keys, and only start carries them.
TEST(ScheduleRequests, FormattedRequestsReadBack) {
  const mjh_options options = {MJ_MODE_MOVE, 3600, -200, 200, 0, 1, 1};
  std::vector<mjh_schedule_request> schedules;
  mjh_schedule_request r;
  mjh_schedule_request_none(&r);
  schedules.push_back(r);
  mjh_text_buffer<128> err;
  ASSERT_TRUE(
      mjh_hours_parse("00:00-01:00,02:00-03:00,04:00-05:00,06:00-07:00,08:00-09:00,10:00-11:00,12:00-13:00,"
                      "22:00-23:30",
                      &r.hours, &err))
      << err.c_str();
  ASSERT_TRUE(mjh_days_parse("mon,wed-fri,sun", &r.hours.days, &err)) << err.c_str();
  r.given = MJH_SCHED_KEY_HOURS | MJH_SCHED_KEY_DAYS | MJH_SCHED_KEY_FOR;
  r.for_s = MJH_DURATION_MAX_S;
  schedules.push_back(r);
  r.given = MJH_SCHED_KEY_UNTIL | MJH_SCHED_KEY_DAYS;
  r.until_minute = MJH_UNTIL_END_OF_HOURS;
  schedules.push_back(r);
  mjh_schedule_request_none(&r);
  r.given = MJH_SCHED_KEY_UNTIL | MJH_SCHED_KEY_HOURS;  // "any": clears the working hours
  r.until_minute = 1440;
  schedules.push_back(r);
  mjh_schedule_request_none(&r);
  r.given = MJH_SCHED_KEYS_CONDITIONS;
  ASSERT_TRUE(mjh_programs_parse("obs64.exe,mstsc.exe,r\xc3\xa9nder.exe", &r.programs, &err)) << err.c_str();
  r.foreground = true;
  r.ac_only = true;
  r.battery_floor = 95;
  schedules.push_back(r);

  mjh_options defaults;
  mjh_options_default(&defaults);
  for (const mjh_schedule_request &sent : schedules) {
    for (unsigned keys : {0u, (unsigned)MJH_KEY_DX, (unsigned)MJH_KEYS_ALL}) {
      for (int cmd : {MJH_CMD_START, MJH_CMD_STATUS}) {
        mjh_text_buffer<MJH_REQUEST_MAX> text;
        ASSERT_TRUE(mjh_request_format((mjh_command)cmd, &options, keys, &sent, text));
        ASSERT_TRUE(text.ok());
        ASSERT_EQ(text.last(), '\n');
        const char *buf = text.c_str();
        mjh_request out;
        ASSERT_TRUE(mjh_request_parse(buf, text.size() - 1, &defaults, &out, &err)) << buf << err.c_str();
        const bool start = cmd == MJH_CMD_START;
        EXPECT_EQ(out.given, start ? keys : 0u) << buf;
        ASSERT_EQ(out.schedule.given, start ? sent.given : 0u) << buf;
        if (!start) continue;
        if (keys == MJH_KEYS_ALL) {
          EXPECT_EQ(memcmp(&out.options, &options, sizeof options), 0) << buf;
        }
        if (sent.given & MJH_SCHED_KEY_HOURS) {
          mjh_text_buffer<MJH_HOURS_TEXT_MAX> a, b;
          mjh_hours_text(&sent.hours, a);
          mjh_hours_text(&out.schedule.hours, b);
          EXPECT_STREQ(a.c_str(), b.c_str());
        }
        if (sent.given & MJH_SCHED_KEY_DAYS) {
          EXPECT_EQ(out.schedule.hours.days, sent.hours.days);
        }
        if (sent.given & MJH_SCHED_KEY_FOR) {
          EXPECT_EQ(out.schedule.for_s, sent.for_s);
        }
        if (sent.given & MJH_SCHED_KEY_WHILE_RUNNING) {
          ASSERT_EQ(out.schedule.programs.count, sent.programs.count) << buf;
          for (int i = 0; i < sent.programs.count; i++)
            EXPECT_STREQ(out.schedule.programs.names[i], sent.programs.names[i]);
          EXPECT_EQ(out.schedule.foreground, sent.foreground);
          EXPECT_EQ(out.schedule.ac_only, sent.ac_only);
          EXPECT_EQ(out.schedule.battery_floor, sent.battery_floor);
        }
        if (sent.given & MJH_SCHED_KEY_UNTIL) {
          EXPECT_EQ(out.schedule.until_minute, sent.until_minute);
        }
      }
    }
  }
  // Too small a buffer: the builder says so.
  char small[60];
  mjh_text cut(small);
  EXPECT_TRUE(mjh_request_format(MJH_CMD_START, &options, MJH_KEYS_ALL, &schedules[1], cut));
  EXPECT_FALSE(cut.ok());
}

// The agent's schedule as mjh_schedule_json writes it.
std::string schedule_json(const char *hours, const char *days, int64_t session_end, int64_t next_start,
                          const char *warning) {
  mjh_hours h;
  mjh_hours_none(&h);
  if (hours != nullptr) {
    EXPECT_TRUE(mjh_hours_parse(hours, &h, nullptr));
    EXPECT_TRUE(mjh_days_parse(days, &h.days, nullptr));
  }
  mjh_session session = {session_end == MJH_NO_TIME ? MJH_SESSION_NONE : MJH_SESSION_FOR, 0, session_end};
  mjh_decision d;
  memset(&d, 0, sizeof d);
  d.inside = hours == nullptr;
  d.action = next_start == MJH_NO_TIME ? MJH_SCHED_RUN : MJH_SCHED_WAIT;
  d.next_start = next_start;
  mjh_text_buffer<1024> buf;
  mjh_schedule_json(&h, &session, &d, warning, buf);
  EXPECT_TRUE(buf.ok());
  return buf.c_str();
}

TEST(Replies, ScheduleAndWhyTheRunStoppedReadBack) {
  mjh_agent_state a = agent_state();
  const std::string schedule =
      schedule_json("08:30-12:00,13:00-17:30", "mon-fri", MJH_NO_TIME, 1765353600, "locks after 300 s: use 145 s");
  a.schedule_json = schedule.c_str();
  a.stopped_because = "outside working \"hours\"";
  std::string buf = status_reply(a, k_status_line);
  EXPECT_NE(buf.find(",\"schedule\":" + schedule + ","), std::string::npos) << buf;
  mjh_reply r;
  ASSERT_EQ(mjh_reply_read(buf.data(), buf.size(), &r), 1) << buf;
  EXPECT_EQ(r.has_schedule, 1);
  EXPECT_STREQ(r.hours, "08:30-12:00,13:00-17:30");
  EXPECT_STREQ(r.days, "mon-fri");
  EXPECT_EQ(r.inside, 0);
  EXPECT_EQ(r.session_end, MJH_NO_TIME);
  EXPECT_EQ(r.next_start, 1765353600);
  EXPECT_STREQ(r.warning, "locks after 300 s: use 145 s");
  EXPECT_STREQ(r.stopped_because, "outside working \"hours\"");
  EXPECT_EQ(r.pid, a.pid);  // the rest as before

  // No working hours, a session: the texts are empty, the end is there.
  const std::string session_only = schedule_json(nullptr, nullptr, 1765400000, MJH_NO_TIME, nullptr);
  a.schedule_json = session_only.c_str();
  a.stopped_because = nullptr;
  buf = status_reply(a, k_status_line);
  ASSERT_EQ(mjh_reply_read(buf.data(), buf.size(), &r), 1) << buf;
  EXPECT_EQ(r.has_schedule, 1);
  EXPECT_STREQ(r.hours, "");
  EXPECT_STREQ(r.days, "");
  EXPECT_EQ(r.inside, 1);
  EXPECT_EQ(r.session_end, 1765400000);
  EXPECT_EQ(r.next_start, MJH_NO_TIME);
  EXPECT_STREQ(r.warning, "");
  EXPECT_STREQ(r.stopped_because, "");

  // An agent without schedules sends neither member; a fragment that is not
  // one object is left out rather than breaking the reply.
  for (const char *fragment : {(const char *)nullptr, "", "{\"hours\":", "[1]", "{} {}"}) {
    a.schedule_json = fragment;
    buf = status_reply(a, k_status_line);
    ASSERT_FALSE(buf.empty());
    EXPECT_EQ(buf.find("schedule"), std::string::npos) << buf;
    EXPECT_EQ(buf.find("stopped_because"), std::string::npos) << buf;
    ASSERT_EQ(mjh_reply_read(buf.data(), buf.size(), &r), 1) << buf;
    EXPECT_EQ(r.has_schedule, 0);
    EXPECT_EQ(r.session_end, MJH_NO_TIME);
    EXPECT_EQ(r.next_start, MJH_NO_TIME);
  }
}

// A schedule that does not read whole is passed over, like a newer agent's
// member: the rest of the reply still reads, and nothing of it half-applies.
TEST(Replies, ADamagedScheduleIsPassedOverWhole) {
  const std::string good = schedule_json("08:30-17:30", "mon-fri", 1765400000, MJH_NO_TIME, "w");
  const std::pair<std::string, std::string> damage[] = {
      {"\"hours\":\"08:30-17:30\"", "\"hours\":\"8-late\""},
      {"\"hours\":\"08:30-17:30\"", "\"hours\":null"},  // days without hours
      {"\"days\":\"mon-fri\"", "\"days\":[1,2]"},
      {"\"days\":\"mon-fri\"", "\"days\":\"someday\""},
      {"\"inside\":false", "\"inside\":0"},
      {"\"inside\":false,", ""},
      {"\"session_end\":1765400000", "\"session_end\":\"soon\""},
      {"\"session_end\":1765400000", "\"session_end\":1.5"},
      {"\"session_end\":1765400000", "\"session_end\":99999999999999999999"},
      {"\"next_start\":null", "\"next_start\":true"},
      {"\"warning\":\"w\"", "\"warning\":7"},
  };
  for (const auto &d : damage) {
    std::string schedule = good;
    size_t p = schedule.find(d.first);
    ASSERT_NE(p, std::string::npos) << d.first << " in " << good;
    schedule.replace(p, d.first.size(), d.second);
    mjh_agent_state a = agent_state();
    a.schedule_json = schedule.c_str();
    a.stopped_because = "session ended after 2 h";
    const std::string buf = status_reply(a, k_status_line);
    mjh_reply r;
    ASSERT_TRUE(mjh_reply_read(buf.data(), buf.size(), &r)) << buf;
    EXPECT_EQ(r.has_schedule, 0) << schedule;
    EXPECT_STREQ(r.hours, "") << schedule;
    EXPECT_STREQ(r.warning, "") << schedule;
    EXPECT_EQ(r.session_end, MJH_NO_TIME) << schedule;
    EXPECT_STREQ(r.stopped_because, "session ended after 2 h");
    EXPECT_EQ(r.pid, a.pid);
  }
  // "stopped_because" of another type is passed over too.
  std::string reply =
      std::string("{\"ok\":true,\"run\":null,\"agent\":{\"pid\":7,\"version\":\"1\",\"run_on\":false,") +
      "\"keep_awake\":false,\"failing\":false,\"last_error\":\"\",\"settings\":{},"
      "\"stopped_because\":[\"x\"]}}";
  mjh_reply r;
  ASSERT_EQ(mjh_reply_read(reply.data(), reply.size(), &r), 1);
  EXPECT_STREQ(r.stopped_because, "");
}

}  // namespace
