// The agent's notification-area icons, drawn at run time at whatever size the
// display asks for: a mouse in the state's colour, with a small badge for the
// states that need a second look ("!" when failing, a clock when waiting).
// Plain C++ without system headers, tested natively; the build machine's
// compiler builds it alone too (make_ico).
#ifndef MJH_ICON_H
#define MJH_ICON_H

#include <stddef.h>

enum mjh_icon_state {
  MJH_ICON_STOPPED,  // no run
  MJH_ICON_ACTIVE,   // a run whose nudges work
  MJH_ICON_FAILING,  // a run whose recent nudges fail (desktop locked, injection refused)
  MJH_ICON_WAITING   // no run now, one will start by itself (outside working hours)
};

enum { MJH_ICON_MIN_PX = 16, MJH_ICON_MAX_PX = 256 };

// Draws the icon of `state` as size x size pixels, rows top to bottom, 4 bytes
// each in the order blue, green, red, alpha, with the colours premultiplied
// by alpha and edges anti-aliased. `bgra` holds size * size * 4 bytes.
// Returns false (nothing written) when size is outside MJH_ICON_MIN_PX to
// MJH_ICON_MAX_PX or the state is unknown.
bool mjh_icon_render(mjh_icon_state state, int size, unsigned char *bgra);

// Turns size x size premultiplied pixels into straight alpha (colours no
// longer multiplied by alpha), as icon files and CreateIconIndirect take them;
// fully transparent pixels become black.
void mjh_icon_straight_alpha(unsigned char *bgra, int size);

#endif
