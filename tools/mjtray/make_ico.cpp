/* Writes mjtray.exe's own icon file at build time: the active state's
 * picture, drawn by host/core/icon.c at the sizes a file manager asks for.
 * A native program, run on the build machine; the icon is never a stored
 * binary.
 *
 *   make_ico OUTPUT.ico */
#include <stdio.h>
#include <stdlib.h>

#include "icon.h"

static const int k_sizes[] = {16, 24, 32, 48};
enum { SIZE_COUNT = sizeof k_sizes / sizeof k_sizes[0] };

static void put16(FILE *f, unsigned v) {
  fputc((int)(v & 0xff), f);
  fputc((int)((v >> 8) & 0xff), f);
}

static void put32(FILE *f, unsigned long v) {
  put16(f, (unsigned)(v & 0xffff));
  put16(f, (unsigned)((v >> 16) & 0xffff));
}

static unsigned long mask_row_bytes(int size) { return (unsigned long)((size + 31) / 32 * 4); }

static unsigned long image_bytes(int size) {
  return 40 + (unsigned long)size * (unsigned long)size * 4 + mask_row_bytes(size) * (unsigned long)size;
}

/* One image: a BITMAPINFOHEADER of twice the height, the colour rows bottom
 * up with straight (not premultiplied) alpha, then the 1-bit mask. */
static int write_image(FILE *f, int size) {
  unsigned char *bgra = static_cast<unsigned char *>(malloc((size_t)size * (size_t)size * 4));
  int x, y;
  if (!bgra || !mjh_icon_render(MJH_ICON_ACTIVE, size, bgra)) {
    free(bgra);
    return 0;
  }
  mjh_icon_straight_alpha(bgra, size);
  put32(f, 40);
  put32(f, (unsigned long)size);
  put32(f, (unsigned long)size * 2);
  put16(f, 1);
  put16(f, 32);
  put32(f, 0);
  put32(f, image_bytes(size) - 40);
  put32(f, 0);
  put32(f, 0);
  put32(f, 0);
  put32(f, 0);
  for (y = size - 1; y >= 0; --y) {
    for (x = 0; x < size; ++x) {
      const unsigned char *p = bgra + ((size_t)y * (size_t)size + (size_t)x) * 4;
      int c, a = p[3];
      for (c = 0; c < 3; ++c) fputc(p[c], f);
      fputc(a, f);
    }
  }
  for (y = size - 1; y >= 0; --y) {
    unsigned long i;
    for (i = 0; i < mask_row_bytes(size); ++i) {
      int bits = 0, b;
      for (b = 0; b < 8; ++b) {
        int px = (int)i * 8 + b;
        int transparent = px >= size || bgra[((size_t)y * (size_t)size + (size_t)px) * 4 + 3] == 0;
        bits |= transparent << (7 - b);
      }
      fputc(bits, f);
    }
  }
  free(bgra);
  return 1;
}

int main(int argc, char **argv) {
  FILE *f;
  unsigned long offset = 6 + 16 * SIZE_COUNT;
  int i, ok = 1;
  if (argc != 2) {
    fprintf(stderr, "usage: make_ico OUTPUT.ico\n");
    return 2;
  }
  f = fopen(argv[1], "wb");
  if (!f) {
    perror(argv[1]);
    return 1;
  }
  put16(f, 0);
  put16(f, 1); /* an icon */
  put16(f, SIZE_COUNT);
  for (i = 0; i < SIZE_COUNT; ++i) {
    fputc(k_sizes[i], f);
    fputc(k_sizes[i], f);
    fputc(0, f);
    fputc(0, f);
    put16(f, 1);
    put16(f, 32);
    put32(f, image_bytes(k_sizes[i]));
    put32(f, offset);
    offset += image_bytes(k_sizes[i]);
  }
  for (i = 0; i < SIZE_COUNT && ok; ++i) ok = write_image(f, k_sizes[i]);
  if (fclose(f) != 0 || !ok) {
    fprintf(stderr, "make_ico: cannot write %s\n", argv[1]);
    remove(argv[1]);
    return 1;
  }
  return 0;
}
