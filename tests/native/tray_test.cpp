// The agent's icon as the shell knows it: SHA-1 against the standard's
// vectors, the icon's GUID of a path against name-based UUIDs made elsewhere
// (Python's uuid.uuid5 of the path in the agent's namespace), and whether a
// notification is shown in each state the shell tells.
#include "tray.h"

#include <stdio.h>

#include <algorithm>
#include <string>

#include "gtest/gtest.h"
#include "sha1.h"

namespace {

std::string hex_digest(mjh_sha1 &hash) {
  uint8_t digest[mjh_sha1::DIGEST_BYTES];
  hash.finish(digest);
  std::string text;
  for (uint8_t byte : digest) {
    char two[3];
    snprintf(two, sizeof two, "%02x", byte);
    text += two;
  }
  return text;
}

std::string sha1_of(const std::string &bytes) {
  mjh_sha1 hash;
  hash.add(bytes.data(), bytes.size());
  return hex_digest(hash);
}

// Bytes i*7+3, for lengths around the 64-byte block and its 56-byte tail.
std::string counting_bytes(size_t n) {
  std::string bytes;
  for (size_t i = 0; i < n; i++) bytes += static_cast<char>((i * 7 + 3) & 0xFF);
  return bytes;
}

TEST(Sha1, TheStandardsVectorsAndEveryWayTheLastBlockFalls) {
  struct sha1_case {
    std::string bytes;
    const char *digest;
  };
  const sha1_case cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {counting_bytes(55), "ddf57317ef34bfee3b6df83d359098930eb278bc"},
      {counting_bytes(56), "a0d492bb0fc889d0eca3bc137066ab6f4f74f369"},
      {counting_bytes(63), "c55856749bef509bdfe6bfebfc7bf4e793e82132"},
      {counting_bytes(64), "bede92be29c3874e1b54ddc77988d606fc857a8e"},
      {counting_bytes(65), "b05a80522b053d6dc7e0a517d0e70212c7dad11f"},
      {counting_bytes(119), "504e27376a6e0f0dba8295b85cb25dc4dfa17d23"},
      {counting_bytes(120), "82134b02fb3f702491be9bed581eeab59334acb2"},
  };
  for (const sha1_case &c : cases) {
    EXPECT_EQ(sha1_of(c.bytes), c.digest) << c.bytes.size() << " bytes";
    // Fed in uneven pieces, the same digest.
    mjh_sha1 pieces;
    for (size_t at = 0, step = 1; at < c.bytes.size(); at += step, step = step * 3 % 97 + 1)
      pieces.add(c.bytes.data() + at, std::min(step, c.bytes.size() - at));
    EXPECT_EQ(hex_digest(pieces), c.digest) << c.bytes.size() << " bytes in pieces";
  }
}

std::string guid_text(const mjh_guid &g) {
  char text[40];
  snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", static_cast<unsigned>(g.data1),
           g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
           g.data4[7]);
  return text;
}

// Each copy of the program its own GUID, one copy always the same whatever
// the case of its ASCII letters; version 5 and the RFC's variant.
TEST(IconGuid, OnePerProgramPathWithoutRegardToCase) {
  struct guid_case {
    std::string path;
    const char *guid;
  };
  const std::string long_folder(300, 'a');
  const guid_case cases[] = {
      {"C:\\Users\\Ann\\AppData\\Local\\Programs\\Veltrano Mouse Jiggler\\mjtray.exe",
       "7f2d78c6-1f3a-59f8-ba40-f7043b3672ee"},  // per user
      {"c:\\users\\ann\\appdata\\local\\programs\\veltrano mouse jiggler\\MJTRAY.EXE",
       "7f2d78c6-1f3a-59f8-ba40-f7043b3672ee"},  // the same, started by another case
      {"C:\\Program Files\\Veltrano Mouse Jiggler\\mjtray.exe", "c9ec1884-658c-5332-848c-21e05048f263"},  // per machine
      {"Z:\\work\\build\\windows\\bin\\mjtray.exe", "4dd3077f-cf80-5eae-a07f-ad130d264891"},              // a build
      {"C:\\Users\\ZO\xc3\x8b\\mjtray.exe", "5250dfd7-c37d-5f3b-a440-88661fc8c4c9"},    // other letters as given
      {"C:\\" + long_folder + "\\mjtray.exe", "9f08dfc9-dfb8-5fb3-862e-742730f5c93a"},  // longer than a chunk
      {"", "9df18057-9231-51e1-a795-317ce70a8cbc"},
  };
  for (const guid_case &c : cases) {
    mjh_guid g = mjh_icon_guid(c.path);
    EXPECT_EQ(guid_text(g), c.guid) << c.path;
    EXPECT_EQ(g.data3 >> 12, 5) << c.path;
    EXPECT_EQ(g.data4[0] >> 6, 2) << c.path;
  }
}

// Shown while the user accepts notifications or the shell does not say;
// held back in every other state, one unknown to this program included.
TEST(Notification, ShownOnlyWhileTheUserAcceptsThem) {
  struct state_case {
    int state;
    bool shown;
  };
  const state_case cases[] = {
      {MJH_USER_STATE_UNKNOWN, true},
      {MJH_USER_NOT_PRESENT, false},
      {MJH_USER_BUSY, false},
      {MJH_USER_FULL_SCREEN_3D, false},
      {MJH_USER_PRESENTING, false},
      {MJH_USER_ACCEPTS, true},
      {MJH_USER_QUIET_TIME, false},
      {MJH_USER_APP_FULL_SCREEN, false},
      {8, false},
      {-1, false},
  };
  for (const state_case &c : cases) EXPECT_EQ(mjh_notification_shown(c.state), c.shown) << "state " << c.state;
}

}  // namespace
