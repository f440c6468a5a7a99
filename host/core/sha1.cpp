#include "sha1.h"

#include <string.h>

namespace {

uint32_t rotate_left(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

mjh_sha1::mjh_sha1()
    : state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u},
      pending_(),
      pending_size_(0),
      total_(0) {}

void mjh_sha1::block(const uint8_t *bytes) {
  uint32_t w[80];
  for (int i = 0; i < 16; i++)
    w[i] = uint32_t{bytes[4 * i]} << 24 | uint32_t{bytes[4 * i + 1]} << 16 | uint32_t{bytes[4 * i + 2]} << 8 |
           bytes[4 * i + 3];
  for (int i = 16; i < 80; i++) w[i] = rotate_left(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  for (int i = 0; i < 80; i++) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    uint32_t t = rotate_left(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rotate_left(b, 30);
    b = a;
    a = t;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

void mjh_sha1::add(const void *bytes, size_t size) {
  const uint8_t *at = static_cast<const uint8_t *>(bytes);
  total_ += size;
  while (size > 0) {
    size_t take = sizeof pending_ - pending_size_;
    if (take > size) take = size;
    memcpy(pending_ + pending_size_, at, take);
    pending_size_ += take;
    at += take;
    size -= take;
    if (pending_size_ == sizeof pending_) {
      block(pending_);
      pending_size_ = 0;
    }
  }
}

void mjh_sha1::finish(uint8_t (&digest)[DIGEST_BYTES]) {
  const uint64_t bits = total_ * 8;
  const uint8_t one = 0x80, zero = 0;
  add(&one, 1);
  while (pending_size_ != 56) add(&zero, 1);
  uint8_t length[8];
  for (int i = 0; i < 8; i++) length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  add(length, sizeof length);
  for (int i = 0; i < DIGEST_BYTES; i++) digest[i] = static_cast<uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
}
