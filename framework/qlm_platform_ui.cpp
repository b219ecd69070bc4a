#include "qlm_platform_ui.h"

#include <atomic>

namespace {

std::atomic<const rScreenProvider*> g_provider{nullptr};

// The token of the screen while no provider hands out device contexts.
char g_default_screen_dc = 0;

}  // namespace

void screen_set_provider(const rScreenProvider* provider) { g_provider.store(provider); }

int32_t screen_dpi() {
  const rScreenProvider* p = g_provider.load();
  const int32_t dpi = (p != nullptr && p->dpi != nullptr) ? p->dpi() : 0;
  return dpi > 0 ? dpi : 96;
}

int32_t screen_width() {
  const rScreenProvider* p = g_provider.load();
  const int32_t w = (p != nullptr && p->width != nullptr) ? p->width() : 0;
  return w > 0 ? w : 0;
}

int32_t screen_height() {
  const rScreenProvider* p = g_provider.load();
  const int32_t h = (p != nullptr && p->height != nullptr) ? p->height() : 0;
  return h > 0 ? h : 0;
}

tScreenDC screen_dc_get() {
  const rScreenProvider* p = g_provider.load();
  if (p != nullptr && p->dc_get != nullptr) return p->dc_get();
  return &g_default_screen_dc;
}

void screen_dc_release(tScreenDC dc) {
  if (dc == nullptr || dc == &g_default_screen_dc) return;
  const rScreenProvider* p = g_provider.load();
  if (p != nullptr && p->dc_release != nullptr) p->dc_release(dc);
}
