// Writes mjtray.exe's own icon file at build time: the active state's
// picture, drawn by host/core/icon.cpp at the sizes a file manager asks for.
// A native program, run on the build machine; the icon is never a stored
// binary.
//
// Each image is stored as a PNG inside the icon file, as icon files may hold
// them: the picture is mostly transparent, and compressed it takes a fifth
// of the room in mjtray.exe that plain bitmaps would. The compressor is a
// small one of its own (deflate with the fixed codes), so the build needs
// nothing beyond a C++ compiler.
//
//   make_ico OUTPUT.ico
#include <stdio.h>
#include <string.h>

#include "icon.h"

namespace {

const int k_sizes[] = {16, 24, 32, 48};
enum { SIZE_COUNT = sizeof k_sizes / sizeof k_sizes[0], SIZE_MAX_PX = 48 };

// ---- Bytes out ------------------------------------------------------------------

struct bytes {
  unsigned char data[64 * 1024];
  size_t size = 0;
  bool full = false;

  void put(unsigned v) {
    if (size < sizeof data)
      data[size++] = static_cast<unsigned char>(v);
    else
      full = true;
  }
  void put32be(unsigned long v) {
    for (int shift = 24; shift >= 0; shift -= 8) put(static_cast<unsigned>((v >> shift) & 0xff));
  }
  void put_all(const unsigned char *p, size_t n) {
    for (size_t i = 0; i < n; i++) put(p[i]);
  }
};

unsigned long crc32(const unsigned char *p, size_t n, unsigned long crc = 0) {
  crc = ~crc & 0xffffffffUL;
  for (size_t i = 0; i < n; i++) {
    crc ^= p[i];
    for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320UL & (0 - (crc & 1)));
  }
  return ~crc & 0xffffffffUL;
}

unsigned long adler32(const unsigned char *p, size_t n) {
  unsigned long a = 1, b = 0;
  for (size_t i = 0; i < n; i++) {
    a = (a + p[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// ---- Deflate with the fixed codes ---------------------------------------------------

class bit_writer {
 public:
  explicit bit_writer(bytes &out) : out_(out) {}
  // Writes the n low bits of v, least significant first.
  void bits(unsigned v, int n) {
    for (int i = 0; i < n; i++) {
      acc_ |= ((v >> i) & 1u) << count_;
      if (++count_ == 8) flush();
    }
  }
  // Writes a Huffman code of n bits, most significant first.
  void code(unsigned v, int n) {
    for (int i = n - 1; i >= 0; i--) bits((v >> i) & 1u, 1);
  }
  void finish() {
    if (count_) flush();
  }

 private:
  void flush() {
    out_.put(acc_);
    acc_ = 0;
    count_ = 0;
  }
  bytes &out_;
  unsigned acc_ = 0;
  int count_ = 0;
};

void literal(bit_writer &w, unsigned v) {
  if (v < 144)
    w.code(0x30 + v, 8);
  else if (v < 256)
    w.code(0x190 + (v - 144), 9);
  else if (v < 280)
    w.code(v - 256, 7);
  else
    w.code(0xC0 + (v - 280), 8);
}

const unsigned short k_length_base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const unsigned char k_length_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned short k_distance_base[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                          33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                          1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const unsigned char k_distance_extra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void match(bit_writer &w, unsigned length, unsigned distance) {
  int l = 28;
  while (k_length_base[l] > length) l--;
  literal(w, 257 + static_cast<unsigned>(l));
  w.bits(length - k_length_base[l], k_length_extra[l]);
  int d = 29;
  while (k_distance_base[d] > distance) d--;
  w.code(static_cast<unsigned>(d), 5);
  w.bits(distance - k_distance_base[d], k_distance_extra[d]);
}

// One final block of greedy LZ77 matches found through a hash of three bytes.
void deflate(const unsigned char *in, size_t n, bytes &out) {
  enum { HASH = 1 << 12, WINDOW = 32768, MIN = 3, MAX = 258, CHAIN = 64 };
  static int head[HASH];
  static int prev[SIZE_MAX_PX * (SIZE_MAX_PX * 4 + 1)];
  for (int &h : head) h = -1;
  auto hash = [&](size_t i) { return ((in[i] << 8) ^ (in[i + 1] << 4) ^ in[i + 2]) & (HASH - 1); };
  bit_writer w(out);
  w.bits(1, 1);  // the final block
  w.bits(1, 2);  // with the fixed codes
  for (size_t i = 0; i < n;) {
    size_t best = 0, best_distance = 0;
    if (i + MIN <= n) {
      for (int j = head[hash(i)], chain = 0; j >= 0 && i - static_cast<size_t>(j) <= WINDOW && chain < CHAIN;
           j = prev[j], chain++) {
        size_t len = 0;
        while (len < MAX && i + len < n && in[static_cast<size_t>(j) + len] == in[i + len]) len++;
        if (len > best) {
          best = len;
          best_distance = i - static_cast<size_t>(j);
        }
      }
    }
    const size_t step = best >= MIN ? best : 1;
    if (best >= MIN)
      match(w, static_cast<unsigned>(best), static_cast<unsigned>(best_distance));
    else
      literal(w, in[i]);
    for (size_t k = 0; k < step; k++, i++) {
      if (i + MIN > n) continue;
      const int h = hash(i);
      prev[i] = head[h];
      head[h] = static_cast<int>(i);
    }
  }
  literal(w, 256);  // the end of the block
  w.finish();
}

// ---- PNG ----------------------------------------------------------------------------

void chunk(bytes &png, const char *type, const unsigned char *data, size_t n) {
  png.put32be(n);
  const size_t start = png.size;
  png.put_all(reinterpret_cast<const unsigned char *>(type), 4);
  png.put_all(data, n);
  png.put32be(crc32(png.data + start, png.size - start));
}

// The picture at size x size as a PNG (RGBA, straight alpha).
bool make_png(int size, bytes &png) {
  static unsigned char bgra[SIZE_MAX_PX * SIZE_MAX_PX * 4];
  static unsigned char rows[SIZE_MAX_PX * (SIZE_MAX_PX * 4 + 1)];
  if (size > SIZE_MAX_PX || !mjh_icon_render(MJH_ICON_ACTIVE, size, bgra)) return false;
  mjh_icon_straight_alpha(bgra, size);
  size_t n = 0;
  for (int y = 0; y < size; y++) {
    rows[n++] = 0;  // no filter
    for (int x = 0; x < size; x++) {
      const unsigned char *p = bgra + (static_cast<size_t>(y) * static_cast<size_t>(size) + static_cast<size_t>(x)) * 4;
      rows[n++] = p[2];
      rows[n++] = p[1];
      rows[n++] = p[0];
      rows[n++] = p[3];
    }
  }
  static bytes zlib;
  zlib.size = 0;
  zlib.put(0x78);
  zlib.put(0x01);
  deflate(rows, n, zlib);
  zlib.put32be(adler32(rows, n));

  static const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  png.put_all(signature, sizeof signature);
  unsigned char header[13] = {
      0, 0, 0, static_cast<unsigned char>(size), 0, 0, 0, static_cast<unsigned char>(size), 8, 6,
      0, 0, 0};  // 8 bits a channel, RGBA
  chunk(png, "IHDR", header, sizeof header);
  chunk(png, "IDAT", zlib.data, zlib.size);
  chunk(png, "IEND", nullptr, 0);
  return !png.full && !zlib.full;
}

void put16(FILE *f, unsigned v) {
  fputc(static_cast<int>(v & 0xff), f);
  fputc(static_cast<int>((v >> 8) & 0xff), f);
}

void put32(FILE *f, unsigned long v) {
  put16(f, static_cast<unsigned>(v & 0xffff));
  put16(f, static_cast<unsigned>((v >> 16) & 0xffff));
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fputs("usage: make_ico OUTPUT.ico\n", stderr);
    return 2;
  }
  static bytes images[SIZE_COUNT];
  for (int i = 0; i < SIZE_COUNT; i++) {
    if (!make_png(k_sizes[i], images[i])) {
      fputs("make_ico: cannot draw the icon\n", stderr);
      return 1;
    }
  }
  FILE *f = fopen(argv[1], "wb");
  if (!f) {
    perror(argv[1]);
    return 1;
  }
  put16(f, 0);
  put16(f, 1);  // an icon
  put16(f, SIZE_COUNT);
  unsigned long offset = 6 + 16 * SIZE_COUNT;
  for (int i = 0; i < SIZE_COUNT; i++) {
    fputc(k_sizes[i], f);
    fputc(k_sizes[i], f);
    fputc(0, f);
    fputc(0, f);
    put16(f, 1);
    put16(f, 32);
    put32(f, images[i].size);
    put32(f, offset);
    offset += images[i].size;
  }
  for (const bytes &image : images) fwrite(image.data, 1, image.size, f);
  if (fclose(f) != 0) {
    fprintf(stderr, "make_ico: cannot write %s\n", argv[1]);
    remove(argv[1]);
    return 1;
  }
  return 0;
}
