// Writes mjtray.exe's own icon file at build time: the active state's
// picture, drawn by host/core/icon.cpp at the sizes a file manager asks for.
// A native program, run on the build machine; the icon is never a stored
// binary.
//
//   make_ico OUTPUT.ico
#include <stdio.h>

#include "icon.h"

namespace {

const int k_sizes[] = {16, 24, 32, 48};
enum { SIZE_COUNT = sizeof k_sizes / sizeof k_sizes[0], SIZE_MAX_PX = 48 };

void put16(FILE *f, unsigned v) {
  fputc(static_cast<int>(v & 0xff), f);
  fputc(static_cast<int>((v >> 8) & 0xff), f);
}

void put32(FILE *f, unsigned long v) {
  put16(f, static_cast<unsigned>(v & 0xffff));
  put16(f, static_cast<unsigned>((v >> 16) & 0xffff));
}

unsigned long mask_row_bytes(int size) { return static_cast<unsigned long>((size + 31) / 32 * 4); }

unsigned long image_bytes(int size) {
  const unsigned long n = static_cast<unsigned long>(size);
  return 40 + n * n * 4 + mask_row_bytes(size) * n;
}

// One image: a BITMAPINFOHEADER of twice the height, the colour rows bottom
// up with straight (not premultiplied) alpha, then the 1-bit mask.
bool write_image(FILE *f, int size) {
  static unsigned char bgra[SIZE_MAX_PX * SIZE_MAX_PX * 4];
  if (size > SIZE_MAX_PX || !mjh_icon_render(MJH_ICON_ACTIVE, size, bgra)) return false;
  mjh_icon_straight_alpha(bgra, size);
  const size_t row = static_cast<size_t>(size);
  put32(f, 40);
  put32(f, static_cast<unsigned long>(size));
  put32(f, static_cast<unsigned long>(size) * 2);
  put16(f, 1);
  put16(f, 32);
  put32(f, 0);
  put32(f, image_bytes(size) - 40);
  put32(f, 0);
  put32(f, 0);
  put32(f, 0);
  put32(f, 0);
  for (int y = size - 1; y >= 0; --y) {
    for (int x = 0; x < size; ++x) {
      const unsigned char *p = bgra + (static_cast<size_t>(y) * row + static_cast<size_t>(x)) * 4;
      for (int c = 0; c < 4; ++c) fputc(p[c], f);
    }
  }
  for (int y = size - 1; y >= 0; --y) {
    for (unsigned long i = 0; i < mask_row_bytes(size); ++i) {
      int bits = 0;
      for (int b = 0; b < 8; ++b) {
        const int px = static_cast<int>(i) * 8 + b;
        const bool transparent =
            px >= size || bgra[(static_cast<size_t>(y) * row + static_cast<size_t>(px)) * 4 + 3] == 0;
        bits |= (transparent ? 1 : 0) << (7 - b);
      }
      fputc(bits, f);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fputs("usage: make_ico OUTPUT.ico\n", stderr);
    return 2;
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
  for (int size : k_sizes) {
    fputc(size, f);
    fputc(size, f);
    fputc(0, f);
    fputc(0, f);
    put16(f, 1);
    put16(f, 32);
    put32(f, image_bytes(size));
    put32(f, offset);
    offset += image_bytes(size);
  }
  bool ok = true;
  for (int size : k_sizes) ok = ok && write_image(f, size);
  if (fclose(f) != 0 || !ok) {
    fprintf(stderr, "make_ico: cannot write %s\n", argv[1]);
    remove(argv[1]);
    return 1;
  }
  return 0;
}
