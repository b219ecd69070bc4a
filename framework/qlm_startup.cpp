#include "qlm_startup.h"

#include <cstdlib>
#include <ctime>

#include "qlm_base_fullstring.h"
#include "qlm_base_lists.h"
#include "qlm_base_object.h"
#include "qlm_encoding.h"
#include "qlm_parser_vormcode.h"
#include "qlm_platform.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_flow.h"
#include "qlm_platform_file_io.h"

namespace {
bool g_started = false;
// Hooks registered by upper-layer modules (start and stop run on one thread).
constexpr int cnStopHookLimit = 16;
tStopHook g_stop_hooks[cnStopHookLimit] = {};
int g_stop_hook_count = 0;
}  // namespace

bool qlm_base_add_stop_hook(tStopHook hook) {
  if (hook == nullptr) return false;
  for (int i = 0; i < g_stop_hook_count; ++i)
    if (g_stop_hooks[i] == hook) return true;
  if (g_stop_hook_count == cnStopHookLimit) return false;
  g_stop_hooks[g_stop_hook_count++] = hook;
  return true;
}

void qlm_base_start(int argc, char** argv) {
  // Seed the run time's pseudo-random generator from the clock; nothing in
  // the system depends on its sequence.
  std::srand(unsigned(std::time(nullptr)));
  qlm_base_types_start();
  platform_start(argc, argv);
  fullstring_start();
  resource_start();
  file_layer_start();
  encoding_start();
}

void qlm_base_stop() {
  while (g_stop_hook_count > 0) g_stop_hooks[--g_stop_hook_count]();
  encoding_stop();
  file_layer_stop();
  resource_stop();
  fullstring_stop();
  platform_stop();
}

void framework_start(int argc, char** argv) {
  if (g_started) return;
  qlm_base_start(argc, argv);
  qlm_platform_file_start();
  qlm_file_flow_types_start();
  qlm_parser_vormcode_start();
  g_started = true;
}

void framework_stop() {
  if (!g_started) return;
  g_started = false;
  qlm_parser_vormcode_stop();
  qlm_platform_file_stop();
  qlm_base_stop();
}

bool framework_started() { return g_started; }
