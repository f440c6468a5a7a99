#include "desktop.h"

bool mjh_desktop_apply(mjh_desktop *d, long change) {
  const mjh_desktop before = *d;
  switch (change) {
    case MJH_DESKTOP_CONSOLE_CONNECT:
    case MJH_DESKTOP_REMOTE_CONNECT:
      d->connected = true;
      d->remote = change == MJH_DESKTOP_REMOTE_CONNECT;
      break;
    case MJH_DESKTOP_CONSOLE_DISCONNECT:
    case MJH_DESKTOP_REMOTE_DISCONNECT:
      d->connected = false;
      d->remote = change == MJH_DESKTOP_REMOTE_DISCONNECT;
      break;
    case MJH_DESKTOP_LOCK:
    case MJH_DESKTOP_UNLOCK:
      d->locked = change == MJH_DESKTOP_LOCK;
      break;
    default:
      return false;
  }
  return d->locked != before.locked || d->connected != before.connected || d->remote != before.remote;
}

bool mjh_desktop_holds(const mjh_desktop &d) { return d.locked || !d.connected; }

void mjh_desktop_text(const mjh_desktop &d, mjh_text &out) {
  if (!d.connected)
    out.add(d.remote ? "the remote desktop is disconnected" : "the desktop is switched away");
  else if (d.locked)
    out.add("the computer is locked");
}

bool mjh_front_blocks(const mjh_front_window &w, int own_level) {
  return w.level != MJH_LEVEL_UNKNOWN && own_level != MJH_LEVEL_UNKNOWN && w.level > own_level;
}

void mjh_blocked_text(const mjh_front_window &w, mjh_text &out) {
  out.add(w.level >= MJH_LEVEL_SYSTEM ? "a system window" : "an administrator window", " is in front");
  if (w.image[0]) out.add(" (", w.image, ')');
}
