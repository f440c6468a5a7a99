// SHA-1 (FIPS 180-4) of a few bytes, for name-based UUIDs (RFC 4122, version
// 5), where it names things and guards nothing. Plain C++, tested natively.
#ifndef MJH_SHA1_H
#define MJH_SHA1_H

#include <stddef.h>
#include <stdint.h>

class mjh_sha1 {
 public:
  enum { DIGEST_BYTES = 20 };

  mjh_sha1();
  // Hashes size more bytes.
  void add(const void *bytes, size_t size);
  // The digest of everything added; the hash is then spent.
  void finish(uint8_t (&digest)[DIGEST_BYTES]);

 private:
  void block(const uint8_t *bytes);

  uint32_t state_[5];
  uint8_t pending_[64];
  size_t pending_size_;
  uint64_t total_;
};

#endif
