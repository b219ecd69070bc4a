// The install container's entry reader and walker.
#include <cstring>

#include "installs_container.h"
#include "installs_names.h"
#include "qlm_base_crc.h"
#include "qlm_base_lists.h"
#include "qlm_base_view_flow.h"

namespace {

// One read of exactly n bytes; anything less raises errRunTime (the reader
// turns it into false).
void read_exact(cFlow* flow, void* buffer, int32_t n) {
  if (!flow->Read(buffer, n) || flow->LastIO() != uint32_t(n)) raise_base_error(errRunTime, "");
}

uint32_t read_u32(cFlow* flow) {
  uint8_t b[4];
  read_exact(flow, b, 4);
  return get_le32(b);
}

std::string read_text(cFlow* flow) {
  uint8_t b[2];
  read_exact(flow, b, 2);
  const int32_t n = int32_t(b[0]) | int32_t(b[1]) << 8;
  std::string text;
  if (n != 0) {
    text.resize(size_t(n));
    read_exact(flow, text.data(), n);
  }
  return text;
}

}  // namespace

bool inst_entry_read(cFlow* flow, rInstEntry* entry) {
  if (flow == nullptr || entry == nullptr) return false;
  try {
    if (!flow->IsOpened()) return false;
    read_exact(flow, entry->tag, 6);
    if (std::string_view(entry->tag, 6) != cnInstEntryTag) raise_base_error(errRunTime, "");
    read_exact(flow, &entry->kind, 1);
    entry->name = read_text(flow);
    entry->path = read_text(flow);
    entry->unpacked_size = read_u32(flow);
    entry->unpacked_check = read_u32(flow);
    entry->stored_size = read_u32(flow);
    entry->stored_check = read_u32(flow);
    entry->next_offset = read_u32(flow);
    read_exact(flow, &entry->main_program, 1);
    return true;
  } catch (...) {
    return false;
  }
}

bool cInstWalker::Open(const void* data, int64_t size) {
  mFlow.reset();
  mData = static_cast<const uint8_t*>(data);
  mSize = size;
  mPayload = 0;
  mPayloadSize = 0;
  mNext = -1;
  mMainSeen = false;
  if (data == nullptr || size < 0 || size > INT32_MAX) return false;
  // The bytes are read where they lie (the program's own data): nothing is
  // copied, whatever the container's size.
  mFlow.reset(new (std::nothrow) cViewFlow(data, size));
  if (mFlow == nullptr || !mFlow->Open()) {
    mFlow.reset();
    return false;
  }
  return true;
}

cInstWalker::eOpen cInstWalker::OpenInstallData() {
  const rResourceEntry* block = resource_find(cnInstallDataName);
  if (block == nullptr) return eOpen::NotRegistered;
  return Open(block->data, block->size) ? eOpen::Opened : eOpen::Unreadable;
}

bool cInstWalker::ReadSignature() {
  if (mFlow == nullptr) return false;
  char signature[6];
  if (!mFlow->Read(signature, 6) || mFlow->LastIO() != 6) return false;
  return std::string_view(signature, 6) == cnInstSignature;
}

eInstStep cInstWalker::Next(rInstEntry& entry) {
  mPayloadSize = 0;
  mNext = -1;
  if (mFlow == nullptr || !inst_entry_read(mFlow.get(), &entry)) return eInstStep::BadHeader;
  if (entry.kind == cnInstKindEnd) return eInstStep::Entry;

  switch (entry.kind) {
    case cnInstKindFile:
      if (!inst_file_valid(entry.name, entry.path)) return eInstStep::BadName;
      break;
    case cnInstKindFolder:
      if (!inst_folder_valid(entry.path)) return eInstStep::BadName;
      break;
    case cnInstKindExt:
      if (!inst_name_valid(entry.name)) return eInstStep::BadName;
      break;
    default: break;
  }
  // The flow reads the caller's bytes in place: its position is the
  // payload's offset in them. 64-bit sums cannot wrap.
  const int64_t payload = mFlow->Curr();
  const int64_t payload_end = payload + int64_t(entry.stored_size);
  if (payload < 0 || payload_end > mSize) return eInstStep::BadPayload;
  const int64_t next = int64_t(entry.next_offset);
  if (next < payload_end || next > mSize) return eInstStep::BadNext;

  mPayload = payload;
  mPayloadSize = int32_t(entry.stored_size);  // at most the container's size, below 2 GiB
  mStoredCheck = entry.stored_check;
  mNext = next;
  if (entry.kind == cnInstKindFile && entry.main_program != 0) mMainSeen = true;
  return eInstStep::Entry;
}

bool cInstWalker::PayloadMatches() const { return crc32_update(0xFFFFFFFFu, Payload(), mPayloadSize) == mStoredCheck; }

bool cInstWalker::SeekNext() { return mFlow != nullptr && mNext >= 0 && mFlow->Seek(mNext); }

bool cInstWalker::Rewind() {
  mNext = -1;
  mPayloadSize = 0;
  return mFlow != nullptr && mFlow->Seek(int64_t(cnInstSignature.size()));
}
