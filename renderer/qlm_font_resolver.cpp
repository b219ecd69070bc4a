// The font resolver: the substitution table, fontconfig and the answer cache.
#include "qlm_font_resolver.h"

#include <fontconfig/fontconfig.h>

#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include "qlm_startup.h"

namespace {

// Windows face names and the installed families that stand for them. Arial
// and its relatives get Liberation Sans (Arial's advance widths and vertical
// metrics); the wide humanist faces get DejaVu Sans, which has their
// proportions. The answer does not depend on the machine's fontconfig rules.
constexpr std::pair<std::string_view, std::string_view> kSubstitutes[] = {
    {"Arial", "Liberation Sans"},         {"Helvetica", "Liberation Sans"},
    {"MS Sans Serif", "Liberation Sans"}, {"Microsoft Sans Serif", "Liberation Sans"},
    {"Verdana", "DejaVu Sans"},           {"Tahoma", "DejaVu Sans"},
    {"Segoe UI", "DejaVu Sans"},          {"Times New Roman", "Liberation Serif"},
    {"Courier New", "Liberation Mono"},
};

bool ascii_equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

using tKey = std::pair<std::string, uint8_t>;

std::mutex g_lock;  // guards g_cache and g_hook
std::map<tKey, rFontFace> g_cache;
tFontResolverHook g_hook = nullptr;
std::atomic<uint64_t> g_runs{0};
std::once_flag g_fc_init;

void fc_init_once() {
  std::call_once(g_fc_init, [] { FcInit(); });
}

// One fontconfig match. The pattern asks for the family, the weight and the
// slant and only scalable faces; fontconfig's own substitutions fill the rest
// (and fall back to its default family for an unknown name).
bool fc_match(const std::string& family, uint8_t style, rFontFace& face) {
  fc_init_once();
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return false;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType((style & 1) ? 700 : 400));
  FcPatternAddInteger(pattern, FC_SLANT, (style & 2) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  bool found = false;
  if (FcConfigSubstitute(nullptr, pattern, FcMatchPattern)) {
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (match != nullptr) {
      FcChar8* file = nullptr;
      int index = 0;
      if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr && file[0] != 0) {
        face = rFontFace{};
        face.file = reinterpret_cast<const char*>(file);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch && index > 0)
          face.index = static_cast<uint32_t>(index);
        // A synthetic slant comes as a matrix; emboldening is ignored (every
        // face the system names has a real bold).
        FcMatrix* m = nullptr;
        if (FcPatternGetMatrix(match, FC_MATRIX, 0, &m) == FcResultMatch && m != nullptr) {
          face.xx = m->xx;
          face.xy = m->xy;
          face.yx = m->yx;
          face.yy = m->yy;
        }
        found = true;
      }
      FcPatternDestroy(match);
    }
  }
  FcPatternDestroy(pattern);
  return found;
}

void resolver_stop_hook() { font_resolver_clear_cache(); }

}  // namespace

std::string font_substitute_family(std::string_view name) {
  for (const auto& [from, to] : kSubstitutes)
    if (ascii_equal_nocase(name, from)) return std::string(to);
  return std::string(name);
}

bool font_resolve(std::string_view name, uint8_t style, rFontFace& face) {
  if (name.empty()) return false;
  style &= 3;
  tKey key{std::string(name), style};
  tFontResolverHook hook;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_cache.find(key);
    if (it != g_cache.end()) {
      face = it->second;
      return true;
    }
    hook = g_hook;
  }
  // The match runs without the lock: fontconfig's first match loads its
  // cache, and another thread may resolve a kept name meanwhile.
  g_runs.fetch_add(1, std::memory_order_relaxed);
  rFontFace found;
  std::string family = font_substitute_family(name);
  if (!(hook != nullptr ? hook(family, style, found) : fc_match(family, style, found))) return false;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    // Every distinct name asked for would stay for the life of the process:
    // a full cache starts again empty.
    if (g_cache.size() >= cnFontResolverCacheEntries && g_cache.find(key) == g_cache.end()) g_cache.clear();
    face = g_cache.emplace(std::move(key), std::move(found)).first->second;
  }
  return true;
}

size_t font_resolver_cache_size() {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_cache.size();
}

uint64_t font_resolver_runs() { return g_runs.load(std::memory_order_relaxed); }

void font_resolver_clear_cache() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_cache.clear();
}

void font_resolver_set_hook(tFontResolverHook hook) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_hook = hook;
  g_cache.clear();
}

void qlm_font_start() {
  fc_init_once();
  qlm_base_add_stop_hook(&resolver_stop_hook);
}

void qlm_font_stop() { font_resolver_clear_cache(); }
