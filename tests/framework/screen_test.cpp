// The screen helpers without and with a metrics provider, and the writing
// script list.
#include <gtest/gtest.h>

#include "qlm_i18n.h"
#include "qlm_platform_ui.h"

namespace {

TEST(Screen, WithoutAProviderThereIsNoScreen) {
  screen_set_provider(nullptr);
  EXPECT_EQ(screen_dpi(), 96);
  EXPECT_EQ(screen_width(), 0);
  EXPECT_EQ(screen_height(), 0);
  tScreenDC dc = screen_dc_get();
  EXPECT_NE(dc, nullptr);
  EXPECT_EQ(screen_dc_get(), dc);
  screen_dc_release(dc);
  screen_dc_release(nullptr);
}

int g_released = 0;
int g_token = 0;

TEST(Screen, AProviderAnswersUnlessItHasNothingToSay) {
  struct Case {
    int32_t dpi, width, height;
    int32_t want_dpi, want_width, want_height;
  } cases[] = {
      {120, 1920, 1080, 120, 1920, 1080},
      {0, 1024, 768, 96, 1024, 768},
      {-5, -1, -1, 96, 0, 0},
  };
  for (const auto& c : cases) {
    static Case current;
    current = c;
    rScreenProvider p;
    p.dpi = [] { return current.dpi; };
    p.width = [] { return current.width; };
    p.height = [] { return current.height; };
    p.dc_get = []() -> tScreenDC { return &g_token; };
    p.dc_release = [](tScreenDC dc) { g_released += dc == &g_token; };
    screen_set_provider(&p);
    EXPECT_EQ(screen_dpi(), c.want_dpi);
    EXPECT_EQ(screen_width(), c.want_width);
    EXPECT_EQ(screen_height(), c.want_height);
    EXPECT_EQ(screen_dc_get(), &g_token);
    screen_set_provider(nullptr);
  }

  // A device context taken before the provider came is never handed to it.
  g_released = 0;
  tScreenDC before = screen_dc_get();
  rScreenProvider p;
  p.dc_get = []() -> tScreenDC { return &g_token; };
  p.dc_release = [](tScreenDC dc) { g_released += dc == &g_token ? 1 : 100; };
  screen_set_provider(&p);
  EXPECT_EQ(screen_dpi(), 96);  // functions left nil answer the defaults
  screen_dc_release(before);
  screen_dc_release(screen_dc_get());
  EXPECT_EQ(g_released, 1);
  screen_set_provider(nullptr);
}

TEST(I18n, TheScriptListHasOneEntryWithoutATag) {
  EXPECT_EQ(i18n_script_last(), 0);
  for (int32_t i : {-1, 0, 1, 1000}) EXPECT_EQ(i18n_script_name(i), "");
}

}  // namespace
