// The colour-name list: reading the "CNL1.0" outer form, the searches, and
// the process-wide list made on first use.
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "qlm_base_crc.h"
#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_colors.h"
#include "qlm_mem_block.h"
#include "qlm_zlib.h"

namespace {

// A node's name; the block's layout was checked, so it ends inside it.
const char* node_name(const uint8_t* node) { return reinterpret_cast<const char*>(node + cnCNLNodeSize); }
int32_t name_length(const char* name) { return int32_t(std::strlen(name)); }

uint32_t node_color(const uint8_t* node) { return cnl_get_u32(node + 4); }

int64_t family_count(const rColorFamily* family) { return cnl_get_u32(family->record); }

// The node at the 0-based position of an index.
const uint8_t* index_node(const uint8_t* block, const uint8_t* index, int64_t at) {
  return block + cnl_get_u32(index + 4 * at);
}

bool names_equal(const char* a, const char* b) {
  return buf_equal(a, name_length(a), b, name_length(b), cnFmtIgnoreCase);
}

}  // namespace

// ---------------------------------------------------------------------------
// cColorNamesList

cColorNamesList::~cColorNamesList() { Close(); }

bool cColorNamesList::Identify(uint32_t id) const { return id == id_cColorNamesList || cException::Identify(id); }

void cColorNamesList::Close() {
  mFamilies.reset();
  mem_free(mBlock);
  mAloc = 0;
  mHeader = nullptr;
}

void cColorNamesList::LogFailure(std::exception_ptr e, std::source_location loc) const {
  try {
    std::lock_guard lock(mLogLock);
    auto* self = const_cast<cColorNamesList*>(this);
    if (cExceptionLog* log = self->Log(); log != nullptr && log->Count() >= cnColorNamesLogLimit)
      log->Delete(1, log->Count() - cnColorNamesLogLimit + 1);
    exception_log_append(e, self, loc);
  } catch (...) {
    // The row is lost.
  }
}

template <typename F>
bool cColorNamesList::Guarded(F&& body, std::source_location loc) const {
  try {
    return body();
  } catch (...) {
    LogFailure(std::current_exception(), loc);
    return false;
  }
}

bool cColorNamesList::Open(cFlow* flow) {
  return Guarded([&] {
    if (IsOpened()) raise_condition_error(errInvariant, "{IsOpened}");
    if (flow == nullptr) raise_condition_error(errPreCondition, "{sf = NIL}");
    try {
      uint8_t zhdr[cnCNLOuterHeaderSize];
      if (!flow->Read(zhdr, cnCNLOuterHeaderSize)) raise_base_error(errQLMCall, "{sf.Read}");
      const int32_t n = int32_t(cnl_get_u32(zhdr));
      const uint32_t check_crc = cnl_get_u32(zhdr + 4);
      // A length beyond what the flow still holds cannot be read; refusing
      // it first spares an allocation of up to 2 GiB for a damaged header.
      const int64_t size = flow->Size();
      const int64_t at = flow->Curr();
      if (size >= 0 && at >= 0 && int64_t(n) > size - at) raise_base_error(errQLMCall, "{sf.Read}");
      cMemBlock<uint8_t> packed;
      if (!mem_alloc(packed.Ref(), n)) raise_base_error(errNEnoughMem, "{mem_alloc}");
      if (!flow->Read(packed.Get(), n)) raise_base_error(errQLMCall, "{sf.Read}");
      if (crc32_update(cnCNLCrcStart, packed.Get(), n) != check_crc)
        raise_condition_error(errInvariant, "{ccrc<>zhdr.check_crc}");

      void* inflated = nullptr;
      int32_t inflated_size = 0;
      if (!zlib_decompress(packed.Get(), n, inflated, inflated_size)) raise_base_error(errQLMCall, "{zlib_decompress}");
      mBlock = static_cast<uint8_t*>(inflated);
      mAloc = inflated_size;
      mHeader = mBlock;

      // The header must be there before any of its fields is read.
      if (mAloc < cnCNLHeaderSize) raise_condition_error(errInvariant, "{mAloc<cnCNLHeaderSize}");
      const int32_t check_sz = int32_t(cnl_get_u32(mHeader + cnCNLCheckSizeOffset));
      if (check_sz != mAloc || mAloc < 0)
        raise_condition_error(errInvariant, "{mHeader.check_sz<>mAloc(",
                              std::to_string(check_sz) + "<>" + std::to_string(mAloc), ")}");
      if (std::memcmp(mHeader, cnCNL_UID.data(), cnCNL_UID.size()) != 0)
        raise_condition_error(errInvariant, "{mHeader.list_uid<>cnCNL_UID}");
      if (crc32_update(cnCNLCrcStart, mBlock + cnCNLHeaderSize, mAloc - cnCNLHeaderSize) !=
          cnl_get_u32(mHeader + cnCNLCheckCrcOffset))
        raise_condition_error(errInvariant, "{ccrc<>mHeader.chck_crc}");
      // Neither CRC covers the family count, and a block with recomputed
      // CRCs passes them: every offset, count and terminator is checked
      // against the block before anything is read through it.
      std::vector<rCNLFamily> families;
      std::string fault;
      if (!cnl_check_layout(mBlock, mAloc, families, fault))
        raise_condition_error(errInvariant, "{mHeader.layout: ", fault, "}");

      mFamilies = std::make_unique<cArrayOf<rColorFamily, 1>>(5);
      for (const rCNLFamily& f : families) {
        rColorFamily* entry = mFamilies->Append(1);
        if (entry == nullptr) raise_base_error(errNEnoughMem, "{mFamilies.Append}");
        entry->record = mBlock + f.record;
        entry->name = reinterpret_cast<const char*>(mBlock + f.name);
        entry->first_node = mBlock + f.first_node;
        entry->name_index = mBlock + f.name_index;
        entry->color_index = mBlock + f.color_index;
      }
      // The nodes' link and name slots stay zero: a node's name is at
      // node + 12 and its successor at node + 13 + name length.
      return true;
    } catch (...) {
      Close();
      throw;
    }
  });
}

bool cColorNamesList::FindFirst(rColorFind* find, std::string_view name, std::string_view family) const {
  return Guarded([&] {
    if (!mFamilies) raise_condition_error(errInvariant, "{NotOpened}");
    if (find == nullptr) raise_condition_error(errPreCondition, "{cf=NIL}");
    *find = rColorFind{};
    find->list = this;
    if (name.empty()) raise_condition_error(errPreCondition, "{name=\"\"}");
    const std::string key = string_trim_upper(name);
    if (key == "ENUM_BY_NAME") {
      find->flags = cnColorFindEnumByName;
    } else if (key == "ENUM_BY_COLOR") {
      find->flags = cnColorFindEnumByColor;
    } else {
      if (name.size() > size_t(cnCNLMaxNameLength)) raise_condition_error(errPreCondition, "{ColorNameTooLong}");
      find->flags = cnColorFindByName;
      std::memcpy(find->name, name.data(), name.size());
      find->name[name.size()] = 0;
    }
    if (!family.empty()) {
      const std::string wanted = string_trim_upper(family);
      const rColorFamily* f = mFamilies->First();
      while (f != nullptr && string_trim_upper(f->name) != wanted) f = mFamilies->Next(f);
      if (f == nullptr) raise_condition_error(errInvariant, "{FamilyNotFound}");
      find->family = f;
    } else {
      find->flags |= cnColorFindAllFamilies;
      find->family = mFamilies->First();
    }
    return FindNext(find);
  });
}

bool cColorNamesList::FindNext(rColorFind* find) const {
  return Guarded([&] {
    if (find == nullptr) raise_condition_error(errPreCondition, "{cf=NIL}");
    if (find->list != this) raise_condition_error(errPreCondition, "{NotInitialized}");
    int mode = 0;
    for (int m :
         {cnColorFindByName, cnColorFindByColor, cnColorFindWalk, cnColorFindEnumByName, cnColorFindEnumByColor})
      if ((find->flags & m) != 0) {
        mode = m;
        break;
      }
    if (mode == 0) raise_condition_error(errPreCondition, "{NotInitialized}");
    if (!mFamilies) raise_condition_error(errInvariant, "{NotOpened}");
    if (find->started == 0) {
      // A record filled by its caller must name one of this list's families.
      if (find->family != nullptr && !IsFamily(find->family))
        raise_condition_error(errPreCondition, "{NotInitialized}");
      return FirstStep(find, mode);
    }
    return FurtherStep(find, mode);
  });
}

bool cColorNamesList::IsFamily(const rColorFamily* family) const {
  for (const rColorFamily* f = mFamilies->First(); f != nullptr; f = mFamilies->Next(f))
    if (f == family) return true;
  return false;
}

const rColorFamily* cColorNamesList::NextFamily(const rColorFamily* family) const { return mFamilies->Next(family); }

void cColorNamesList::Found(rColorFind* find, const uint8_t* node, int32_t position) const {
  find->node = node;
  find->position = position;
  find->color_found = color_set_alpha(node_color(node), 255);
  find->name_found = node_name(node);
}

bool cColorNamesList::FirstStep(rColorFind* find, int mode) const {
  find->started = 1;
  if (mode == cnColorFindWalk && find->family_walk != 0) {
    find->family = mFamilies->First();
    find->family_name_found = find->family != nullptr ? find->family->name : nullptr;
    return find->family != nullptr;
  }
  if (find->family == nullptr) {
    // All families of a list that has none.
    if ((find->flags & cnColorFindAllFamilies) != 0) {
      find->family_name_found = nullptr;
      return false;
    }
    raise_condition_error(errPreCondition, "{NotInitialized}");
  }
  return SearchFamily(find, mode);
}

// A first step in the record's family; with all families, moves on through
// the table until a node is found or the table ends.
bool cColorNamesList::SearchFamily(rColorFind* find, int mode) const {
  for (;;) {
    const rColorFamily* f = find->family;
    find->family_name_found = f->name;
    const int64_t n = family_count(f);
    if (mode == cnColorFindByName || mode == cnColorFindByColor) {
      // Binary search over the 0-based index, in signed 64-bit arithmetic:
      // an empty family gives high = -1 and no step.
      const bool by_name = mode == cnColorFindByName;
      const uint8_t* index = by_name ? f->name_index : f->color_index;
      const int32_t key_length = int32_t(strnlen(find->name, sizeof find->name));
      const int32_t key_color = int32_t(find->color);
      auto compare = [&](int64_t at) -> int32_t {
        const uint8_t* node = index_node(mBlock, index, at);
        if (by_name) {
          const char* name = node_name(node);
          return buf_compare(find->name, key_length, name, name_length(name), cnFmtIgnoreCase);
        }
        const int32_t color = int32_t(node_color(node));
        return key_color < color ? -1 : key_color > color ? 1 : 0;
      };
      int64_t low = 0;
      int64_t high = n - 1;
      while (low <= high) {
        const int64_t middle = low + (high - low) / 2;
        const int32_t c = compare(middle);
        if (c == 0) {
          int64_t at = middle;
          while (at > 0 && compare(at - 1) == 0) --at;  // the first of equal keys
          Found(find, index_node(mBlock, index, at), int32_t(at + 1));
          return true;
        }
        if (c < 0)
          high = middle - 1;
        else
          low = middle + 1;
      }
      find->node = nullptr;  // marks the failed step
    } else if (n > 0) {
      const uint8_t* node = mode == cnColorFindWalk         ? f->first_node
                            : mode == cnColorFindEnumByName ? index_node(mBlock, f->name_index, 0)
                                                            : index_node(mBlock, f->color_index, 0);
      Found(find, node, 1);
      return true;
    }
    if ((find->flags & cnColorFindAllFamilies) == 0) return false;
    find->family = NextFamily(f);
    if (find->family == nullptr) {
      find->family_name_found = nullptr;
      return false;
    }
  }
}

bool cColorNamesList::FurtherStep(rColorFind* find, int mode) const {
  if (mode == cnColorFindWalk && find->family_walk != 0) {
    if (find->family == nullptr) return false;
    find->family = NextFamily(find->family);
    find->family_name_found = find->family != nullptr ? find->family->name : nullptr;
    return find->family != nullptr;
  }
  const rColorFamily* f = find->family;
  if (f == nullptr) {
    // The walk has run past the last family.
    if (mode == cnColorFindByName || mode == cnColorFindByColor)
      raise_condition_error(errPreCondition, "{NotInitialized}");
    return false;
  }
  const int64_t n = family_count(f);
  const int64_t next = int64_t(find->position) + 1;  // 1-based; bounded by the count below
  switch (mode) {
    case cnColorFindByName:
    case cnColorFindByColor:
      if (find->node == nullptr) {
        // The last step found nothing: say so, and with all families go on.
        try {
          raise_condition_error(errPreCondition, "{NotFoundFirst}");
        } catch (...) {
          LogFailure(std::current_exception(), std::source_location::current());
        }
        break;
      }
      if (next >= 1 && next <= n) {
        const bool by_name = mode == cnColorFindByName;
        const uint8_t* node = index_node(mBlock, by_name ? f->name_index : f->color_index, next - 1);
        if (by_name ? names_equal(node_name(node), find->name) : node_color(node) == find->color) {
          Found(find, node, int32_t(next));
          return true;
        }
      }
      find->node = nullptr;
      break;
    case cnColorFindWalk:
      if (find->node != nullptr && next >= 2 && next <= n) {
        Found(find, find->node + cnCNLNodeSize + name_length(node_name(find->node)) + 1, int32_t(next));
        return true;
      }
      break;
    default:  // enumerations
      if (next >= 1 && next <= n) {
        const uint8_t* index = mode == cnColorFindEnumByName ? f->name_index : f->color_index;
        Found(find, index_node(mBlock, index, next - 1), int32_t(next));
        return true;
      }
      break;
  }
  if ((find->flags & cnColorFindAllFamilies) == 0) return false;
  find->family = NextFamily(f);
  if (find->family == nullptr) {
    find->family_name_found = nullptr;
    return false;
  }
  return SearchFamily(find, mode);
}

// ---------------------------------------------------------------------------
// The process-wide list.

std::atomic<cColorNamesList*> gQLMColors{nullptr};

namespace {
// Guards the making and freeing of gQLMColors: two threads may format rich
// text at once, and each may make the first lookup.
std::mutex gColorsLock;
}  // namespace

void color_list_load() {
  if (gQLMColors.load(std::memory_order_acquire) != nullptr) return;
  try {
    std::lock_guard lock(gColorsLock);
    if (gQLMColors.load(std::memory_order_relaxed) != nullptr) return;
    const int64_t size = int64_t(int32_t(cnl_get_u32(cnBuiltInColorNames))) + cnCNLOuterHeaderSize;
    if (size != cnBuiltInColorNamesSize) raise_base_error(errQLMCall, "{memf.Open}");
    auto flow = cMemoryFlow::ConstructReadOnly(true, size, cnBuiltInColorNames);
    if (!flow || !flow->Open()) raise_base_error(errQLMCall, "{memf.Open}");
    auto list = std::make_unique<cColorNamesList>();
    if (!list->Open(flow.get())) raise_base_error(errQLMCall, "{gQLMColors.Open}");
    // Published only when complete, so no thread ever sees a half-made list.
    gQLMColors.store(list.release(), std::memory_order_release);
  } catch (...) {
    // gQLMColors stays nil; the next lookup tries again.
  }
}

void color_list_free() {
  try {
    std::lock_guard lock(gColorsLock);
    delete gQLMColors.exchange(nullptr, std::memory_order_acq_rel);
  } catch (...) {
    // Locking failed: the list stays until the process ends.
  }
}

bool color_find_by_name(rColorFind* find, std::string_view name, std::string_view family) {
  color_list_load();
  const cColorNamesList* list = gQLMColors.load(std::memory_order_acquire);
  return list != nullptr && list->FindFirst(find, name, family);
}
