// Each pixel is the composite of a few shapes given as signed distances in
// pixels; a shape covers a pixel by clamp(0.5 - distance), which gives
// anti-aliased edges without supersampling. Edges of the body are snapped to
// whole pixels so that the small sizes stay sharp.
#include "icon.h"

namespace {

struct rgb {
  float r, g, b;
};

enum glyph { GLYPH_EXCLAMATION, GLYPH_CLOCK };

struct style {
  rgb fill, outline;
  bool has_badge;
  rgb badge;
  glyph mark;
};

float min_f(float a, float b) { return a < b ? a : b; }
float max_f(float a, float b) { return a > b ? a : b; }
float abs_f(float a) { return a < 0 ? -a : a; }
float clamp01(float a) { return a < 0 ? 0 : a > 1 ? 1 : a; }

// No libm: Newton's method is exact enough for distances of a few hundred px.
float sqrt_f(float a) {
  float x;
  int i;
  if (a <= 0) return 0;
  x = a > 1 ? a : 1;
  for (i = 0; i < 20; ++i) x = 0.5f * (x + a / x);
  return x;
}

float length_f(float x, float y) { return sqrt_f(x * x + y * y); }

float circle_distance(float px, float py, float cx, float cy, float radius) {
  return length_f(px - cx, py - cy) - radius;
}

// A box with rounded corners: centre, half extents, corner radius.
float rounded_box_distance(float px, float py, float cx, float cy, float hx, float hy, float radius) {
  float qx = abs_f(px - cx) - (hx - radius);
  float qy = abs_f(py - cy) - (hy - radius);
  return length_f(max_f(qx, 0), max_f(qy, 0)) + min_f(max_f(qx, qy), 0) - radius;
}

// A stroke from a to b with round caps.
float segment_distance(float px, float py, float ax, float ay, float bx, float by, float half_width) {
  float dx = bx - ax, dy = by - ay;
  float len2 = dx * dx + dy * dy;
  float t = len2 > 0 ? clamp01(((px - ax) * dx + (py - ay) * dy) / len2) : 0;
  return length_f(px - (ax + t * dx), py - (ay + t * dy)) - half_width;
}

float coverage(float distance) { return clamp01(0.5f - distance); }

struct pixel {
  float r, g, b, a;  // premultiplied
};

void paint(pixel *p, rgb c, float cover) {
  p->r = c.r * cover + p->r * (1 - cover);
  p->g = c.g * cover + p->g * (1 - cover);
  p->b = c.b * cover + p->b * (1 - cover);
  p->a = cover + p->a * (1 - cover);
}

// Clears what lies under a shape: the gap that sets the badge off the body.
void erase(pixel *p, float cover) {
  float keep = 1 - cover;
  p->r *= keep;
  p->g *= keep;
  p->b *= keep;
  p->a *= keep;
}

rgb colour(unsigned hex) {
  rgb c;
  c.r = (float)((hex >> 16) & 0xff) / 255.0f;
  c.g = (float)((hex >> 8) & 0xff) / 255.0f;
  c.b = (float)(hex & 0xff) / 255.0f;
  return c;
}

bool style_for(mjh_icon_state state, style *s) {
  s->has_badge = false;
  s->mark = GLYPH_EXCLAMATION;
  s->badge = colour(0);
  switch (state) {
    case MJH_ICON_STOPPED:
      s->fill = colour(0xA7ADB3);
      s->outline = colour(0x5F6368);
      return true;
    case MJH_ICON_ACTIVE:
      s->fill = colour(0x34A853);
      s->outline = colour(0x176B2C);
      return true;
    case MJH_ICON_FAILING:
      s->fill = colour(0xF2A31B);
      s->outline = colour(0x8A5300);
      s->has_badge = true;
      s->badge = colour(0xD93025);
      s->mark = GLYPH_EXCLAMATION;
      return true;
    case MJH_ICON_WAITING:
      s->fill = colour(0x4C8DF0);
      s->outline = colour(0x174EA6);
      s->has_badge = true;
      s->badge = colour(0x1A56C4);
      s->mark = GLYPH_CLOCK;
      return true;
  }
  return false;
}

float round_f(float a) { return static_cast<float>(static_cast<int>(a + 0.5f)); }

}  // namespace

bool mjh_icon_render(mjh_icon_state state, int size, unsigned char *bgra) {
  style st;
  float S = (float)size;
  float stroke, body_left, body_right, body_top, body_bottom, cx, cy, hx, hy, radius;
  float button_y, badge_r, badge_x, badge_y, glyph_half;
  rgb white = colour(0xFFFFFF);
  int x, y;

  if (size < MJH_ICON_MIN_PX || size > MJH_ICON_MAX_PX || !style_for(state, &st)) return false;

  stroke = max_f(1, round_f(S / 16));
  // The body: a tall rounded box, centred, or to the left when a badge sits
  // in the lower right corner.
  body_left = round_f(st.has_badge ? S * 0.10f : S * 0.20f);
  body_right = body_left + round_f(S * 0.58f);
  body_top = round_f(S * 0.04f);
  body_bottom = S - round_f(S * 0.04f);
  cx = (body_left + body_right) / 2;
  cy = (body_top + body_bottom) / 2;
  hx = (body_right - body_left) / 2;
  hy = (body_bottom - body_top) / 2;
  radius = hx * 0.92f;
  // The buttons: a line across at 40 % of the height, split in the middle;
  // on a whole pixel row so that a one-pixel line stays one pixel.
  button_y = (float)(int)(body_top + (body_bottom - body_top) * 0.40f) + stroke / 2;
  badge_r = S * 0.25f;
  badge_x = S - badge_r - S * 0.02f;
  badge_y = S - badge_r - S * 0.02f;
  glyph_half = max_f(0.55f, badge_r * 0.14f);

  for (y = 0; y < size; ++y) {
    for (x = 0; x < size; ++x) {
      float px = (float)x + 0.5f, py = (float)y + 0.5f;
      pixel p = {0, 0, 0, 0};
      unsigned char *out = bgra + ((size_t)y * (size_t)size + (size_t)x) * 4;

      paint(&p, st.outline, coverage(rounded_box_distance(px, py, cx, cy, hx, hy, radius)));
      paint(&p, st.fill,
            coverage(rounded_box_distance(px, py, cx, cy, hx - stroke, hy - stroke, max_f(radius - stroke, 0))));
      paint(&p, st.outline,
            coverage(min_f(segment_distance(px, py, cx - hx, button_y, cx + hx, button_y, stroke / 2),
                           segment_distance(px, py, cx, body_top, cx, button_y, stroke / 2))) *
                // only inside the body
                coverage(rounded_box_distance(px, py, cx, cy, hx, hy, radius)));
      if (st.has_badge) {
        erase(&p, coverage(circle_distance(px, py, badge_x, badge_y, badge_r + stroke)));
        paint(&p, st.badge, coverage(circle_distance(px, py, badge_x, badge_y, badge_r)));
        if (st.mark == GLYPH_EXCLAMATION) {
          float bar = segment_distance(px, py, badge_x, badge_y - badge_r * 0.58f, badge_x, badge_y + badge_r * 0.08f,
                                       glyph_half);
          float dot = circle_distance(px, py, badge_x, badge_y + badge_r * 0.50f, glyph_half * 1.25f);
          paint(&p, white, coverage(min_f(bar, dot)));
        } else {
          float hand_up = segment_distance(px, py, badge_x, badge_y, badge_x, badge_y - badge_r * 0.55f, glyph_half);
          float hand_right = segment_distance(px, py, badge_x, badge_y, badge_x + badge_r * 0.42f, badge_y, glyph_half);
          paint(&p, white, coverage(circle_distance(px, py, badge_x, badge_y, badge_r - stroke)));
          paint(&p, st.badge, coverage(min_f(hand_up, hand_right)));
        }
      }
      out[0] = (unsigned char)(clamp01(p.b) * 255.0f + 0.5f);
      out[1] = (unsigned char)(clamp01(p.g) * 255.0f + 0.5f);
      out[2] = (unsigned char)(clamp01(p.r) * 255.0f + 0.5f);
      out[3] = (unsigned char)(clamp01(p.a) * 255.0f + 0.5f);
    }
  }
  return true;
}

void mjh_icon_straight_alpha(unsigned char *bgra, int size) {
  size_t count = size > 0 ? (size_t)size * (size_t)size : 0;
  for (size_t i = 0; i < count; i++) {
    unsigned char *p = bgra + i * 4;
    unsigned a = p[3];
    for (int c = 0; c < 3; c++) {
      unsigned v = a ? (p[c] * 255u + a / 2) / a : 0;
      p[c] = static_cast<unsigned char>(v > 255 ? 255 : v);  // a colour above its alpha was never premultiplied
    }
  }
}
