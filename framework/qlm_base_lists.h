// Small lists built on the array container: a list of texts, the registry of
// named data blocks built into the program, and the byte stack of the mark-up
// parser's phases.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qlm_base_array.h"

// ---------------------------------------------------------------------------
// cCharStringsList: entries of (next link, text).

struct rCharStringsEntry {
  rCharStringsEntry* next = nullptr;
  std::string text;
};

class cCharStringsList : public cArrayOf<rCharStringsEntry, 1> {
 public:
  // Class 4, which the array turns into 6.
  cCharStringsList() : cArrayOf<rCharStringsEntry, 1>(4) {}
  // Appends one entry holding the text; the entry, nil on failure.
  rCharStringsEntry* Add(std::string_view text);

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cCharStringsList(); }
};

// ---------------------------------------------------------------------------
// The resource registry: entries of (next link, name, data, size). The data
// is not owned; it is the caller's (bytes built into the program image).

struct rResourceEntry {
  rResourceEntry* next = nullptr;
  std::string name;  // as registered, not normalised
  const void* data = nullptr;
  int32_t size = 0;
};

class cResources : public cArrayOf<rResourceEntry, 1> {
 public:
  cResources() : cArrayOf<rResourceEntry, 1>(6) {}
  // The first entry, in registration order, whose name equals `name` after
  // both are brought to the form of string_trim_upper (trailing blanks and
  // NULs removed, ASCII letters upper-cased); nil when none.
  rResourceEntry* Find(std::string_view name) const;

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cResources(); }
};

// The registry: nil until the first resource_register. It is filled on the
// main thread at program start and only read afterwards, so it has no lock.
extern cResources* gResources;
// The base module's start sets the registry to nil; its stop destroys it.
void resource_start();
void resource_stop();
// When the name is registered already, that entry (the first registration
// wins and the new data is ignored); otherwise a new entry with the name
// unchanged, the data and the size. Nil when the append fails.
rResourceEntry* resource_register(std::string_view name, const void* data, int32_t size);
// The entry of the name; nil when there is none or no registry yet.
rResourceEntry* resource_find(std::string_view name);

// ---------------------------------------------------------------------------
// cPhaseStack: a stack of bytes, no links, capacity class 5.

class cPhaseStack : public cArray {
 public:
  cPhaseStack() : cArray(1, 0, 5) {}
  // Pushes the byte (nothing when the append fails).
  void Push(uint8_t value);
  // The last byte, removed; 36 ('$') on an empty stack, which stays as it is.
  uint8_t Pop();

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cPhaseStack(); }
};
