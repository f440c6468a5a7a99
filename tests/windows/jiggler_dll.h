// Loading the real DLL the way a host does (LoadLibrary, GetProcAddress), for
// the Windows test and timing programs.
#ifndef MJ_JIGGLER_DLL_H
#define MJ_JIGGLER_DLL_H

#include <string.h>
#include <windows.h>

#include "../../include/mouse_jiggler.h"
#include "handle.h"

// The header's function-pointer types, as a host of GetProcAddress uses them.
struct jiggler_dll {
  mjw_module module;
  mj_start_fn start;
  mj_stop_fn stop;
  mj_status_fn status;
  mj_nudge_now_fn nudge_now;
  mj_idle_ms_fn idle_ms;
  mj_last_error_fn last_error;
  mj_version_fn version;
};

static const char k_jiggler_dll_name[] = "veltrano-mouse-jiggler.dll";

template <typename F>
bool jiggler_bind(HMODULE module, F *fn, const char *name) {
  FARPROC p = GetProcAddress(module, name);
  memcpy(fn, &p, sizeof p);
  return p != nullptr;
}

// Loads the DLL beside the program and binds the seven exports; false when
// the DLL or an export is missing.
inline bool jiggler_load(jiggler_dll *dll) {
  dll->module.reset(LoadLibraryA(k_jiggler_dll_name));
  if (!dll->module) return false;
  HMODULE m = dll->module.get();
  return jiggler_bind(m, &dll->start, "mj_start") && jiggler_bind(m, &dll->stop, "mj_stop") &&
         jiggler_bind(m, &dll->status, "mj_status") && jiggler_bind(m, &dll->nudge_now, "mj_nudge_now") &&
         jiggler_bind(m, &dll->idle_ms, "mj_idle_ms") && jiggler_bind(m, &dll->last_error, "mj_last_error") &&
         jiggler_bind(m, &dll->version, "mj_version");
}

#endif
