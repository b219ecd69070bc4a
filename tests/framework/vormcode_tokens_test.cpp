// The VormCode token model: ownership of every payload and freeing deeply
// nested values without deep recursion.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "qlm_base_flow.h"
#include "qlm_encoding.h"
#include "qlm_parser_vormcode_tokens.h"

namespace {

cEncoding* text_of(const std::string& s) {
  auto* en = new cEncoding();
  EXPECT_EQ(en->AdoptCharString(s, 0, false), int32_t(s.size()));
  return en;
}

void set_string(rTCEntry& e, uint8_t kind, const std::string& s) {
  e.kind = kind;
  e.value.pointer = new std::string(s);
}

rTCType* type_with_dims() {
  auto* type = new rTCType();
  type->name = "int";
  type->dimensions = new cTCSize();
  type->dimensions->Append(2)->size = 3;
  return type;
}

// A property list holding one value of each owning kind.
cTCProperties* rich_properties() {
  auto* list = new cTCProperties();
  rTCProperty* p = list->Append(9);
  p->name = "text";
  p->type = type_with_dims();
  p->value.kind = ET_TEXT;
  p->value.value.pointer = text_of("Arial");
  p = p->next;
  set_string(p->value, ET_ID, "LEFT");
  p = p->next;
  set_string(p->value, ET_IDLABEL, "a@b");
  p = p->next;
  p->value.kind = ET_LIST;
  auto* items = new cTCEntries();
  set_string(*items->Append(1), ET_LABEL, "lab");
  items->Append(1)->value.integer = 7;
  p->value.value.pointer = items;
  p = p->next;
  p->value.kind = ET_RECORD;
  auto* record = new cTCProperties();
  set_string(record->Append(1)->value, ET_VAR, "v");
  p->value.value.pointer = record;
  p = p->next;
  p->value.kind = ET_CAST;
  auto* cast = new rTCCast();
  cast->type_name = "pt";
  set_string(cast->value, ET_ID, "x");
  p->value.value.pointer = cast;
  p = p->next;
  p->value.kind = ET_DEREF;
  auto* deref = new cTCDeref();
  rTCDerefItem* item = deref->Append(1);
  // One-letter names by assign(count, char): GCC 12 at -O3, with the whole
  // folder in one unity batch, reports a false -Wrestrict overlap on the
  // memcpy of a plain `= "v"` into an entry of the raw-block list.
  item->name.assign(1, 'v');
  item->indices = new cTCIndex();
  rTCIndexItem* index = item->indices->Append(2);
  index->number = 2;
  index->next->kind = cnIndexReference;
  index->next->deref = new cTCDeref();
  index->next->deref->Append(1)->name.assign(1, 'i');
  p->value.value.pointer = deref;
  p = p->next;
  p->value.kind = ET_FLOAT;
  p->value.value.real = 1.5;
  p = p->next;
  p->value.kind = ET_BOOLEAN;
  p->value.value.boolean = 1;
  return list;
}

rTCTagMap* map_of(const std::string& s) {
  auto* map = new rTCTagMap();
  map->text = text_of(s);
  map->entries = new cTCTagMapEntries();
  map->entries->Append(1)->kind = 0;
  return map;
}

TEST(VormCodeTokens, EveryPayloadIsFreedWithItsToken) {
  // Run under the leak checker: a payload left behind or freed twice fails.
  auto tokens = std::make_unique<cVormCodeTokens>();
  auto add = [&](uint8_t kind, void* payload) {
    rTCToken* t = tokens->Append(1);
    t->kind = kind;
    t->payload.pointer = payload;
    return t;
  };
  auto* control = new rTCT_CONTROL();
  control->text = "\r\n";
  add(TCT_CONTROL, control);
  add(TCT_DATA, text_of("data"))->map = map_of("x");
  add(TCT_SPACE, nullptr)->payload.count = 3;
  auto* section = new rTCT_SECTION();
  section->label = "config";
  section->properties = rich_properties();
  rTCToken* open = add(TCT_SECTION, section);
  open->map = map_of("~\\config\\");
  add(TCT_SECTION_END, new rTCT_SECTION());
  add(TCT_SECTION_END, nullptr);
  add(TCT_PROPERTIES, rich_properties());
  add(TCT_PROPERTIES_END, nullptr);
  for (uint8_t kind = cnMetadataLabel; kind <= cnMetadataRecordType; ++kind) {
    auto* m = new rTCT_METADATA();
    m->kind = kind;
    if (kind == cnMetadataProperties || kind == cnMetadataRecordType) m->data = rich_properties();
    if (kind == cnMetadataList) {
      auto* list = new cTCEntries();
      set_string(*list->Append(1), ET_ID, "e");
      m->data = list;
    }
    if (kind == cnMetadataValue) {
      auto* value = new rTCEntry();
      set_string(*value, ET_VAR, "x");
      m->data = value;
      m->type = type_with_dims();
    }
    if (kind == cnMetadataType) m->type = type_with_dims();
    add(TCT_METADATA, m);
  }
  add(TCT_METADATA_END, new rTCT_METADATA());
  auto* structure = new rTCT_STRUCTURE();
  structure->properties = rich_properties();
  add(TCT_STRUCTURE, structure);
  add(TCT_STRUCTURE_END, new rTCT_STRUCTURE());
  for (uint8_t kind = cnInsertableNone; kind <= cnInsertableTildes; ++kind) {
    auto* ins = new rTCT_INSERTABLE();
    ins->kind = kind;
    if (kind == cnInsertableName) ins->data = rich_properties();
    if (kind == cnInsertableCast) {
      auto* cast = new rTCCast();
      cast->value.kind = ET_RECORD;
      cast->value.value.pointer = rich_properties();
      ins->data = cast;
    }
    if (kind == cnInsertableReference) {
      auto* d = new cTCDeref();
      d->Append(1)->name = "v";
      ins->data = d;
    }
    if (kind == cnInsertableText) ins->data = text_of("\"t\"");
    if (kind == cnInsertableTildes) ins->count = 3;
    add(TCT_INSERTABLE, ins);
  }
  add(TCT_PAREN_CLOSE, nullptr);
  add(TCT_BRACE_CLOSE, nullptr);
  auto flow = cWriteFlow::Construct();
  ASSERT_TRUE(flow->Create());
  add(TCT_EMBEDDED, flow.release());
  add(TCT_DELIMITER, text_of("END"));

  // Payload access answers only for the matching kind.
  rTCToken* first = tokens->First();
  EXPECT_NE(first->Control(), nullptr);
  EXPECT_EQ(first->Data(), nullptr);
  EXPECT_EQ(first->Section(), nullptr);
  EXPECT_EQ(open->Section(), section);
  EXPECT_EQ(open->Properties(), nullptr);
  EXPECT_EQ(first->next->next->Count(), 3);
  EXPECT_EQ(open->Count(), 0);
  rTCProperty* p = section->properties->First();
  EXPECT_NE(p->value.Text(), nullptr);
  EXPECT_EQ(p->value.String(), nullptr);
  EXPECT_EQ(*p->next->value.String(), "LEFT");
  EXPECT_EQ(p->next->value.List(), nullptr);

  // A list cannot be cloned: its entries own their payloads.
  EXPECT_EQ(tokens->Clone(), nullptr);
  EXPECT_NE(tokens->LastError(), 0);
  auto target = std::make_unique<cVormCodeTokens>();
  EXPECT_EQ(tokens->Clone(target.get()), nullptr);

  // Deleting some tokens frees theirs; the rest go with the list.
  EXPECT_TRUE(tokens->Delete(4, 3));
  tokens.reset();
}

TEST(VormCodeTokens, EntryFreeResetsTheValue) {
  rTCEntry e;
  e.kind = ET_LIST;
  e.hex = 1;
  auto* list = new cTCEntries();
  set_string(*list->Append(1), ET_ID, "x");
  e.value.pointer = list;
  tc_entry_free(e);
  EXPECT_EQ(e.kind, ET_NONE);
  EXPECT_EQ(e.hex, 0);
  EXPECT_EQ(e.value.integer, 0);
  tc_entry_free(e);  // nothing owned any more
  rTCToken t;
  t.kind = TCT_DATA;
  t.payload.pointer = text_of("x");
  t.map = map_of("x");
  tc_token_free(t);
  EXPECT_EQ(t.kind, TCT_NONE);
  EXPECT_EQ(t.map, nullptr);
  EXPECT_EQ(t.payload.pointer, nullptr);
}

// Runs `body` on a thread with a small stack: freeing that recursed once
// per nesting level would overflow it.
void on_small_stack(const std::function<void()>& body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 1 << 20), 0);
  pthread_t thread;
  auto call = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, call, const_cast<std::function<void()>*>(&body)), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
}

TEST(VormCodeTokens, DeepNestingIsFreedWithoutRecursion) {
  on_small_stack([] {
    cVormCodeTokens tokens;
    // A million casts, each the value of the one before: &t(&t(&t(...))).
    {
      auto* m = new rTCT_METADATA();
      m->kind = cnMetadataValue;
      auto* value = new rTCEntry();
      m->data = value;
      rTCEntry* e = value;
      for (int k = 0; k < 1000000; ++k) {
        auto* cast = new rTCCast();
        e->kind = ET_CAST;
        e->value.pointer = cast;
        e = &cast->value;
      }
      rTCToken* t = tokens.Append(1);
      t->kind = TCT_METADATA;
      t->payload.pointer = m;
    }
    // Lists in lists, records in records and references in indices,
    // 20,000 levels each (every level is a list object of its own).
    {
      auto* props = new cTCProperties();
      rTCEntry* e = &props->Append(1)->value;
      for (int k = 0; k < 20000; ++k) {
        auto* list = new cTCEntries();
        e->kind = ET_LIST;
        e->value.pointer = list;
        e = list->Append(1);
      }
      for (int k = 0; k < 20000; ++k) {
        auto* record = new cTCProperties();
        e->kind = ET_RECORD;
        e->value.pointer = record;
        e = &record->Append(1)->value;
      }
      auto* deref = new cTCDeref();
      e->kind = ET_DEREF;
      e->value.pointer = deref;
      for (int k = 0; k < 20000; ++k) {
        rTCDerefItem* item = deref->Append(1);
        item->indices = new cTCIndex();
        rTCIndexItem* index = item->indices->Append(1);
        index->kind = cnIndexReference;
        index->deref = new cTCDeref();
        deref = index->deref;
      }
      rTCToken* t = tokens.Append(1);
      t->kind = TCT_PROPERTIES;
      t->payload.pointer = props;
    }
    tokens.Clear();
    EXPECT_EQ(tokens.Count(), 0u);
  });
}

}  // namespace
