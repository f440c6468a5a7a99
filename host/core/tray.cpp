#include "tray.h"

#include "sha1.h"

namespace {

// The namespace of the icons' GUIDs, a UUID of their own
// (7dd15178-3fbc-42f4-913d-c5ba3c579c7f) in network byte order.
const uint8_t k_icon_namespace[16] = {0x7d, 0xd1, 0x51, 0x78, 0x3f, 0xbc, 0x42, 0xf4,
                                      0x91, 0x3d, 0xc5, 0xba, 0x3c, 0x57, 0x9c, 0x7f};

uint8_t ascii_upper(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 'A') : c; }

}  // namespace

mjh_guid mjh_icon_guid(std::string_view path) {
  mjh_sha1 hash;
  hash.add(k_icon_namespace, sizeof k_icon_namespace);
  uint8_t folded[256];
  for (size_t at = 0; at < path.size();) {
    size_t n = 0;
    for (; n < sizeof folded && at < path.size(); n++, at++) folded[n] = ascii_upper(static_cast<uint8_t>(path[at]));
    hash.add(folded, n);
  }
  uint8_t digest[mjh_sha1::DIGEST_BYTES];
  hash.finish(digest);
  digest[6] = static_cast<uint8_t>((digest[6] & 0x0F) | 0x50);  // version 5: name-based, SHA-1
  digest[8] = static_cast<uint8_t>((digest[8] & 0x3F) | 0x80);  // the variant of RFC 4122
  mjh_guid guid;
  guid.data1 = uint32_t{digest[0]} << 24 | uint32_t{digest[1]} << 16 | uint32_t{digest[2]} << 8 | digest[3];
  guid.data2 = static_cast<uint16_t>(digest[4] << 8 | digest[5]);
  guid.data3 = static_cast<uint16_t>(digest[6] << 8 | digest[7]);
  for (int i = 0; i < 8; i++) guid.data4[i] = digest[8 + i];
  return guid;
}

bool mjh_notification_shown(int user_state) {
  return user_state == MJH_USER_ACCEPTS || user_state == MJH_USER_STATE_UNKNOWN;
}
