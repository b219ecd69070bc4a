// The array's flow operations until the flows module exists. The flows
// module replaces this file whole (its bodies go to qlm_base_flow.cpp): it
// reads and writes the count and the entries' payloads. Until then every
// call fails: 281 for a nil flow, otherwise 278 for reading and 277 for
// writing.
#include "qlm_base_array.h"

bool cArray::LoadFrom(cFlow* flow) {
  mLastError = flow == nullptr ? errInvariant : errArrayRead;
  return false;
}

bool cArray::SaveTo(cFlow* flow) {
  mLastError = flow == nullptr ? errInvariant : errArrayWrite;
  return false;
}

bool cArray::ReadEntries(void* /*first*/, uint32_t /*n*/, cFlow* flow) {
  mLastError = flow == nullptr ? errInvariant : errArrayRead;
  return false;
}

bool cArray::WriteEntries(const void* /*first*/, uint32_t /*n*/, cFlow* flow) {
  mLastError = flow == nullptr ? errInvariant : errArrayWrite;
  return false;
}
