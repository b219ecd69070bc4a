#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qlm_base_flow.h"
#include "qlm_base_util.h"

namespace {

const char kTen[] = "0123456789";

// The flow's bytes, read from position 0; the position is restored.
std::string contents(cMemoryFlow& f) {
  const int64_t at = f.Curr();
  std::string s(size_t(f.Size()), '\0');
  EXPECT_TRUE(f.Seek(0));
  if (!s.empty()) {
    EXPECT_TRUE(f.Read(s.data(), int32_t(s.size())));
  }
  EXPECT_TRUE(f.Seek(at));
  return s;
}

std::vector<int32_t> allocations(const cMemoryFlow& f) {
  std::vector<int32_t> a;
  for (auto* c = f.Chunks()->FirstChunk(); c != nullptr; c = c->next) a.push_back(c->allocated);
  return a;
}

// Checks that the last call failed with the code and brace text given.
void expect_logged(cFlow& f, int32_t code, const std::string& text) {
  EXPECT_EQ(f.LastErrorCode(), code);
  EXPECT_EQ(f.LastErrorText(), text);
}

std::unique_ptr<cMemoryFlow> open_on(const std::string& bytes) {
  auto f = cMemoryFlow::ConstructOnData(bytes.data(), int64_t(bytes.size()));
  EXPECT_TRUE(f->Open());
  return f;
}

}  // namespace

TEST(Flow, BaseFlowIsAnOpenEmptyFlow) {
  cFlow f;
  char b = 0;
  EXPECT_TRUE(f.IsOpened());
  EXPECT_TRUE(f.Eof());
  EXPECT_EQ(f.Size(), 0);
  EXPECT_TRUE(f.Seek(0));
  EXPECT_FALSE(f.Seek(1));
  EXPECT_FALSE(f.Read(&b, 1));
  EXPECT_FALSE(f.Write(&b, 1));
  EXPECT_EQ(f.Clone(), nullptr);
  EXPECT_TRUE(object_identify(&f, id_cFlow));
  EXPECT_FALSE(object_identify(&f, id_cMemoryFlow));
  auto m = cMemoryFlow::Construct();
  EXPECT_TRUE(object_identify(m.get(), id_cFlow));
  EXPECT_TRUE(object_identify(m.get(), id_cException));
}

// Read, Seek and Eof on a flow opened over ten bytes.
TEST(Flow, ReadSeekEofOnTenBytes) {
  auto f = cMemoryFlow::ConstructOnData(kTen, 10);
  EXPECT_EQ(f->Size(), cnUndefinedValue);  // closed
  expect_logged(*f, errInvariant, "{not IsOpened}");
  ASSERT_TRUE(f->Open());
  EXPECT_EQ(f->Size(), 10);
  EXPECT_EQ(f->Curr(), 0);
  EXPECT_EQ(f->LastIO(), 10u);
  EXPECT_FALSE(f->Open());
  expect_logged(*f, errInvariant, "{IsOpened}");

  struct Step {
    const char* op;  // "seek" or "read"
    int64_t arg;
    bool ok;
    int64_t curr;       // position afterwards
    uint32_t last_io;   // reads only
    const char* error;  // brace text of a failure
  };
  const Step steps[] = {
      {"read", 0, true, 0, 0, ""},  // a read of 0 inside the data
      {"read", 10, true, 10, 10, ""},
      {"read", 1, false, 10, 0, "{invalid mOffset}"},
      {"read", 0, false, 10, 0, "{invalid mOffset}"},  // even 0 bytes at the end
      {"seek", 6, true, 6, 0, ""},
      {"read", 8, false, 10, 4, "{Eof=true}"},  // partial read
      {"seek", 10, true, 10, 0, ""},
      {"seek", 11, false, 10, 0, "{offs out_of_range}"},
      {"seek", -1, false, 10, 0, "{offs out_of_range}"},
      {"seek", 0, true, 0, 0, ""},
      {"read", -1, false, 0, 0, "{sz<0}"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.op) + " " + std::to_string(s.arg));
    char buf[16] = {};
    const bool ok = std::string(s.op) == "seek" ? f->Seek(s.arg) : f->Read(buf, int32_t(s.arg));
    EXPECT_EQ(ok, s.ok);
    EXPECT_EQ(f->Curr(), s.curr);
    if (std::string(s.op) == "read") {
      EXPECT_EQ(f->LastIO(), s.last_io);
    }
    if (!s.ok) {
      EXPECT_EQ(f->LastErrorText(), s.error);
    }
    if (s.op == std::string("read") && s.arg == 8) {
      EXPECT_EQ(std::string(buf, 4), "6789");
    }
    EXPECT_EQ(f->Eof(), s.curr == 10);
  }
  EXPECT_FALSE(f->Read(nullptr, 1));
  expect_logged(*f, errPreCondition, "{bf=NIL}");
  EXPECT_TRUE(f->Close());
  EXPECT_FALSE(f->Close());
  expect_logged(*f, errInvariant, "{not IsOpened}");
  EXPECT_FALSE(f->Eof());
  expect_logged(*f, errQLMCall, "{sz=cnUndefinedValue}");
}

TEST(Flow, OpenAppendCreateAndReadOnlyArgumentOrders) {
  auto a = cMemoryFlow::ConstructOnData(kTen, 10);
  ASSERT_TRUE(a->OpenAppend());
  EXPECT_EQ(a->Curr(), 10);
  auto c = cMemoryFlow::ConstructOnData(kTen, 10);
  ASSERT_TRUE(c->Create());
  EXPECT_EQ(c->LastIO(), 0u);
  EXPECT_EQ(contents(*c), std::string(10, '\0'));
  // Both argument orders copy the caller's bytes at Open and make a fixed flow.
  for (auto& r : {cMemoryFlow::ConstructReadOnly(true, 10, kTen), cMemoryFlow::ConstructReadOnly(true, kTen, 10)}) {
    ASSERT_TRUE(r->Open());
    EXPECT_FALSE(r->IsScalable());
    EXPECT_EQ(contents(*r), "0123456789");
    EXPECT_EQ(allocations(*r), std::vector<int32_t>{10});
  }
  // A negative size leaves the data unused.
  auto n = cMemoryFlow::ConstructOnData(kTen, -5);
  ASSERT_TRUE(n->Open());
  EXPECT_EQ(n->Size(), 0);
  // The initial size is cut to the maximum.
  auto s = cMemoryFlow::ConstructSized(kTen, 10, 4, 0);
  ASSERT_TRUE(s->Open());
  EXPECT_EQ(contents(*s), "0123");
}

// New chunks are allocated for the least multiple of the chunk size above
// what they must hold, after the free tail of the last chunk is filled.
TEST(Flow, WriteGrowthFixedSizeAndMaximum) {
  auto f = open_on(kTen);
  EXPECT_EQ(allocations(*f), std::vector<int32_t>{10});
  ASSERT_TRUE(f->Seek(10));
  ASSERT_TRUE(f->Write("a", 1));
  EXPECT_EQ(allocations(*f), (std::vector<int32_t>{10, 6552}));
  std::string big(6551, 'b');
  ASSERT_TRUE(f->Write(big.data(), 6551));  // fills the tail exactly
  EXPECT_EQ(allocations(*f), (std::vector<int32_t>{10, 6552}));
  std::string more(6552, 'c');
  ASSERT_TRUE(f->Write(more.data(), 6552));
  EXPECT_EQ(allocations(*f), (std::vector<int32_t>{10, 6552, 13104}));
  EXPECT_EQ(f->Size(), 10 + 1 + 6551 + 6552);
  EXPECT_EQ(f->LastIO(), 6552u);
  // Overwriting across chunk borders and then growing.
  ASSERT_TRUE(f->Seek(8));
  ASSERT_TRUE(f->Write("XYZ", 3));
  EXPECT_EQ(contents(*f).substr(6, 6), "67XYZb");
  // The tail of the last chunk stays zero.
  const rMemoryFlowChunk* last = f->Chunks()->LastChunk();
  EXPECT_EQ(last->used, 6552);
  EXPECT_EQ(last->block[last->allocated - 1], 0);

  // Fixed size: overwrite yes, grow no.
  auto r = cMemoryFlow::ConstructReadOnly(true, 10, kTen);
  ASSERT_TRUE(r->Open());
  ASSERT_TRUE(r->Seek(8));
  EXPECT_FALSE(r->Write("ABC", 3));
  expect_logged(*r, errInvariant, "{not IsScalable}");
  EXPECT_EQ(r->Curr(), 10);
  EXPECT_EQ(r->LastIO(), 2u);
  EXPECT_EQ(contents(*r), "01234567AB");
  EXPECT_FALSE(r->Insert(1, 0));
  expect_logged(*r, errInvariant, "{not IsScalable}");
  EXPECT_FALSE(r->Delete(1, 0));
  EXPECT_FALSE(r->SetSize(3));

  // A maximum of 100 with 90 bytes: a 20-byte write stores 10 and fails.
  std::string ninety(90, 'n');
  auto m = cMemoryFlow::ConstructSized(ninety.data(), 90, 100, 0);
  ASSERT_TRUE(m->OpenAppend());
  std::string twenty(20, 't');
  EXPECT_FALSE(m->Insert(20, 0));  // fails before changing anything
  expect_logged(*m, errInvariant, "{sz>mMaximum}");
  EXPECT_EQ(contents(*m), ninety);
  EXPECT_FALSE(m->Write(twenty.data(), 20));
  expect_logged(*m, errInvariant, "{sz>mMaximum}");
  EXPECT_EQ(m->Size(), 100);
  EXPECT_EQ(m->LastIO(), 10u);
  EXPECT_EQ(m->Curr(), 100);
  EXPECT_EQ(allocations(*m), (std::vector<int32_t>{90, 6552}));
}

TEST(Flow, AllocationBeyondTwoGigabytesFailsCleanly) {
  auto f = cMemoryFlow::ConstructSized(nullptr, 0, 0, int64_t(3) << 30);
  ASSERT_TRUE(f->Create());
  EXPECT_FALSE(f->Write("x", 1));
  expect_logged(*f, errNEnoughMem, "{mem_alloc}");
  EXPECT_EQ(f->Size(), 0);
  // Memory failures inside Write and Open are logged, and nothing is lost.
  auto g = open_on(kTen);
  ASSERT_TRUE(g->Seek(10));
  mem_alloc_fail_at(1);
  EXPECT_FALSE(g->Write("x", 1));
  mem_alloc_fail_at(0);
  expect_logged(*g, errNEnoughMem, "{mem_alloc}");
  EXPECT_EQ(contents(*g), kTen);
  auto h = cMemoryFlow::ConstructOnData(kTen, 10);
  mem_alloc_fail_at(1);
  EXPECT_FALSE(h->Open());
  mem_alloc_fail_at(0);
  EXPECT_FALSE(h->IsOpened());
  EXPECT_TRUE(h->Open());
}

TEST(Flow, InsertAndDeleteInPlaceAndRebuilt) {
  // In place: "A".."H" in one chunk with room; the freed tail is zeroed.
  auto f = cMemoryFlow::Construct();
  ASSERT_TRUE(f->Create());
  ASSERT_TRUE(f->Write("ABCDEFGH", 8));
  ASSERT_EQ(allocations(*f), std::vector<int32_t>{6552});
  ASSERT_TRUE(f->Delete(2, 1));
  EXPECT_EQ(f->LastIO(), 2u);
  EXPECT_EQ(f->Curr(), 1);
  EXPECT_EQ(contents(*f), "ADEFGH");
  const rMemoryFlowChunk* c = f->Chunks()->FirstChunk();
  EXPECT_EQ(c->used, 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(c->block), 8), std::string("ADEFGH\0\0", 8));
  ASSERT_TRUE(f->Insert(2, 1));
  EXPECT_EQ(contents(*f), std::string("A\0\0DEFGH", 8));
  EXPECT_EQ(f->Curr(), 1);
  EXPECT_EQ(allocations(*f), std::vector<int32_t>{6552});

  // Insert at the end rebuilds into one chunk and moves to the new size.
  auto g = open_on(kTen);
  ASSERT_TRUE(g->Insert(3, 10));
  EXPECT_EQ(contents(*g), std::string("0123456789\0\0\0", 13));
  EXPECT_EQ(g->Curr(), 13);
  EXPECT_EQ(allocations(*g), std::vector<int32_t>{6552});

  // Two chunks: an insert at 0 consolidates into one chunk.
  auto h = open_on(kTen);
  ASSERT_TRUE(h->Seek(10));
  ASSERT_TRUE(h->Write("ab", 2));
  ASSERT_EQ(allocations(*h).size(), 2u);
  ASSERT_TRUE(h->Insert(3, 0));
  EXPECT_EQ(h->LastIO(), 3u);
  EXPECT_EQ(h->Curr(), 0);
  EXPECT_EQ(contents(*h), std::string("\0\0\0"
                                      "0123456789ab",
                                      15));
  EXPECT_EQ(allocations(*h), std::vector<int32_t>{6552});
  // A delete across the chunks of a two-chunk flow rebuilds too.
  ASSERT_TRUE(h->Seek(15));
  ASSERT_TRUE(h->Write(std::string(6600, 'z').data(), 6600));
  ASSERT_EQ(allocations(*h).size(), 2u);
  ASSERT_TRUE(h->Delete(6590, 20));
  EXPECT_EQ(h->Size(), 15 + 6600 - 6590);
  EXPECT_EQ(contents(*h), std::string("\0\0\0"
                                      "0123456789abzzzzzzzzzz",
                                      25));
  EXPECT_EQ(allocations(*h), std::vector<int32_t>{6552});
  EXPECT_EQ(h->Curr(), 20);

  struct Bad {
    bool insert;
    int32_t n;
    int64_t offset;
    int32_t code;
    const char* text;
  };
  // clang-format off
  const Bad bad[] = {
      {true, -1, 0, errPreCondition, "{sz<0}"},      {true, 1, -1, errInvariant, "{offs<0}"},
      {true, 1, 26, errInvariant, "{offs>size}"},    {false, -1, 0, errPreCondition, "{sz<0}"},
      {false, 26, 0, errInvariant, "{size-sz<0}"},   {false, 1, -1, errInvariant, "{offs<0}"},
      {false, 5, 21, errInvariant, "{offs+sz>size}"},
  };
  // clang-format on
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text);
    EXPECT_FALSE(b.insert ? h->Insert(b.n, b.offset) : h->Delete(b.n, b.offset));
    expect_logged(*h, b.code, b.text);
    EXPECT_EQ(h->Size(), 25);
  }
}

TEST(Flow, CropAndSetSize) {
  auto f = open_on(kTen);
  EXPECT_FALSE(f->Crop(11));
  expect_logged(*f, errInvariant, "{size-sz<0}");
  ASSERT_TRUE(f->Crop(3));
  EXPECT_EQ(contents(*f), "0123456");
  EXPECT_EQ(f->Curr(), 7);
  ASSERT_TRUE(f->SetSize(9));
  EXPECT_EQ(contents(*f), std::string("0123456\0\0", 9));
  EXPECT_EQ(f->Curr(), 0);
  ASSERT_TRUE(f->Seek(5));
  ASSERT_TRUE(f->SetSize(2));
  EXPECT_EQ(contents(*f), "01");
  EXPECT_EQ(f->Curr(), 0);
  ASSERT_TRUE(f->SetSize(0));
  EXPECT_EQ(f->Size(), 0);
  EXPECT_FALSE(f->SetSize(-1));
}

TEST(Flow, WriteFlowPatternAndCopies) {
  auto w = cWriteFlow::Construct();
  ASSERT_TRUE(w->Create());
  EXPECT_EQ(w->Size(), 1024);
  w->WriteLine("ab");
  EXPECT_EQ(w->Written(), 4);
  EXPECT_EQ(w->Size(), 1024);
  EXPECT_EQ(contents(*w).substr(0, 5), std::string("ab\r\n\0", 5));
  // Copy only what was written.
  ASSERT_TRUE(w->Seek(0));
  auto target = cMemoryFlow::Construct();
  ASSERT_TRUE(target->Create());
  ASSERT_TRUE(w->CopyTo(target.get(), int32_t(w->Written())));
  EXPECT_EQ(contents(*target), "ab\r\n");
  EXPECT_EQ(w->LastIO(), 4u);
  // CopyFrom writes through the target's own Write, so a write flow counts it.
  auto w2 = cWriteFlow::Construct();
  ASSERT_TRUE(w2->Create());
  ASSERT_TRUE(target->Seek(0));
  ASSERT_TRUE(w2->CopyFrom(target.get(), 4));
  EXPECT_EQ(w2->Written(), 4);
  // A large copy goes through pieces.
  std::string big(200000, 'q');
  big[150000] = 'Q';
  auto src = open_on(big);
  auto dst = cMemoryFlow::Construct();
  ASSERT_TRUE(dst->Create());
  ASSERT_TRUE(dst->CopyFrom(src.get(), 200000));
  EXPECT_EQ(dst->LastIO(), 200000u);
  EXPECT_EQ(contents(*dst), big);

  // A write that fails half-way: LastIO counts every byte that arrived.
  auto capped = cMemoryFlow::ConstructSized(nullptr, 0, 70000, 0);
  ASSERT_TRUE(capped->Create());
  ASSERT_TRUE(src->Seek(0));
  EXPECT_FALSE(capped->CopyFrom(src.get(), 100000));
  expect_logged(*capped, errQLMCall, "{Self.Write}");
  EXPECT_EQ(capped->LastIO(), 70000u);
  EXPECT_EQ(capped->Curr(), 70000);

  // Failures before anything is read leave LastIO 0.
  ASSERT_TRUE(src->Seek(199999));
  EXPECT_FALSE(dst->CopyFrom(src.get(), 2));
  expect_logged(*dst, errInvariant, "{fl.Curr + sz > fl.Size}");
  EXPECT_EQ(dst->LastIO(), 0u);
  EXPECT_FALSE(dst->CopyFrom(nullptr, 1));
  expect_logged(*dst, errPreCondition, "{fl=NIL}");
  EXPECT_FALSE(src->CopyTo(dst.get(), 2));
  expect_logged(*src, errInvariant, "{Curr+sz>Size}");
  auto fixed = cMemoryFlow::ConstructReadOnly(true, 3, "xyz");
  ASSERT_TRUE(fixed->Open());
  ASSERT_TRUE(src->Seek(0));
  EXPECT_FALSE(src->CopyTo(fixed.get(), 4));
  expect_logged(*src, errInvariant, "{not fl.IsScalable}");

  // A write that fails reaches WriteLine's caller as an exception.
  auto tiny = cWriteFlow::ConstructOnData(true, 2, "..");
  ASSERT_TRUE(tiny->Open());
  try {
    tiny->WriteLine("abc");
    FAIL() << "WriteLine must raise";
  } catch (const exError& e) {
    EXPECT_EQ(e.Code(), errQLMCall);
    EXPECT_EQ(e.Message(), "{not cWriteFlow.Write}");
  }
}

TEST(Flow, CloneCopiesChunksIntoAChunkList) {
  auto f = open_on(kTen);
  ASSERT_TRUE(f->Seek(10));
  ASSERT_TRUE(f->Write("ab", 2));
  ASSERT_TRUE(f->Seek(4));
  auto c = f->Clone();
  ASSERT_NE(c, nullptr);
  auto* m = dynamic_cast<cMemoryFlow*>(c.get());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Curr(), 4);
  EXPECT_EQ(allocations(*m), allocations(*f));
  EXPECT_NE(m->Chunks()->FirstChunk()->block, f->Chunks()->FirstChunk()->block);
  ASSERT_TRUE(f->Close());
  EXPECT_EQ(contents(*m), "0123456789ab");
  // Failed chunk copies give nil and lose nothing.
  auto g = open_on(kTen);
  for (int64_t k = 1; k <= 4; ++k) {
    mem_alloc_fail_at(k);
    auto d = g->Clone();
    mem_alloc_fail_at(0);
    if (d == nullptr) {
      EXPECT_EQ(g->LastErrorCode(), errNEnoughMem);
    }
  }
  EXPECT_EQ(contents(*g), kTen);
  // A closed flow clones closed.
  auto closed = cMemoryFlow::Construct();
  auto cc = closed->Clone();
  ASSERT_NE(cc, nullptr);
  EXPECT_FALSE(cc->IsOpened());
}

// The chunk list written to a flow and read back; corrupt counts and sizes
// are refused without a crash.
TEST(Flow, ChunkListSaveToAndLoadFrom) {
  auto f = open_on(kTen);
  ASSERT_TRUE(f->Seek(10));
  ASSERT_TRUE(f->Write("abc", 3));
  auto store = cMemoryFlow::Construct();
  ASSERT_TRUE(store->Create());
  auto* chunks = const_cast<cMemoryFlowChunk*>(f->Chunks());
  ASSERT_TRUE(chunks->SaveTo(store.get()));
  EXPECT_EQ(chunks->LastError(), 0);
  // count, then per chunk allocated, used and the used bytes
  EXPECT_EQ(store->Size(), 4 + (8 + 10) + (8 + 3));
  const std::string image = contents(*store);

  auto load = [&](cMemoryFlowChunk& list, const std::string& bytes) {
    auto src = open_on(bytes);
    return list.LoadFrom(src.get());
  };
  cMemoryFlowChunk copy;
  ASSERT_TRUE(load(copy, image));
  ASSERT_EQ(copy.Count(), 2u);
  EXPECT_EQ(copy.FirstChunk()->allocated, 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(copy.FirstChunk()->block), 10), kTen);
  EXPECT_EQ(copy.LastChunk()->allocated, 6552);
  EXPECT_EQ(copy.LastChunk()->used, 3);
  EXPECT_EQ(copy.LastChunk()->block[3], 0);

  // A smaller stored count removes the surplus; the kept chunk's block is
  // replaced when its size differs.
  std::string one = image.substr(0, 4 + 18);
  put_le32(reinterpret_cast<uint8_t*>(one.data()), 1);
  one.replace(4, 4, std::string("\x20\0\0\0", 4));  // allocated 32
  ASSERT_TRUE(load(copy, one));
  ASSERT_EQ(copy.Count(), 1u);
  EXPECT_EQ(copy.FirstChunk()->allocated, 32);
  EXPECT_EQ(copy.FirstChunk()->block[31], 0);
  // A negative stored count empties the list.
  ASSERT_TRUE(load(copy, std::string("\xff\xff\xff\xff", 4)));
  EXPECT_EQ(copy.Count(), 0u);

  struct Corrupt {
    const char* what;
    std::string bytes;
  };
  auto header = [](uint32_t count, uint32_t allocated, uint32_t used) {
    std::string s(12, '\0');
    put_le32(reinterpret_cast<uint8_t*>(s.data()), count);
    put_le32(reinterpret_cast<uint8_t*>(s.data()) + 4, allocated);
    put_le32(reinterpret_cast<uint8_t*>(s.data()) + 8, used);
    return s;
  };
  const Corrupt corrupt[] = {
      {"allocated below used", header(1, 4, 8) + "12345678"},
      {"negative used", header(1, 4, 0xFFFFFFFF)},
      {"allocated of 2^31", header(1, 0x80000000u, 1) + "x"},
      {"bytes missing", header(1, 16, 16) + "short"},
      {"huge count", header(0x7FFFFFFF, 4, 4) + "abcd"},
      {"count without entries", std::string("\x01\0\0\0", 4)},
      {"no count", std::string("\x01\0", 2)},
      {"2 GiB tails",
       header(3, 0x7FFFFFFF, 0) + header(0, 0x7FFFFFFF, 0).substr(4) + header(0, 0x7FFFFFFF, 0).substr(4)},
      {"used beyond the stream", header(1, 0x7FFFFFF0, 0x7FFFFFF0) + "abc"},
      {"a default chunk's tail, repeated",
       [&] {
         std::string s = header(100, 6552, 0);
         for (int i = 1; i < 100; ++i) s += header(0, 6552, 0).substr(4);
         return s;
       }()},
  };
  for (const Corrupt& c : corrupt) {
    SCOPED_TRACE(c.what);
    cMemoryFlowChunk list;
    EXPECT_FALSE(load(list, c.bytes));
    EXPECT_EQ(list.LastError(), errArrayRead);
    EXPECT_LE(list.Count(), 4096u);
  }

  // What the stream does not back is refused before it is allocated: with
  // the entries already there, loading asks for no block at all.
  for (const std::string& bytes :
       {header(3, 0x7FFFFFFF, 0) + header(0, 0x7FFFFFFF, 0).substr(4) + header(0, 0x7FFFFFFF, 0).substr(4),
        header(1, 0x7FFFFFF0, 0x7FFFFFF0) + "abc"}) {
    cMemoryFlowChunk list;
    ASSERT_NE(list.Append(3), nullptr);
    auto src = open_on(bytes);
    mem_alloc_fail_at(1, true);  // nothing real is taken, only counted
    EXPECT_FALSE(list.LoadFrom(src.get()));
    const int64_t asked = mem_alloc_count();
    mem_alloc_fail_at(0);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(list.LastError(), errArrayRead);
  }
  // A tail the bytes read so far cover (plus one default chunk) is kept.
  {
    std::string bytes = header(2, 5000, 5000) + std::string(5000, 'x');
    bytes += header(0, 5000 + 6552 + 16, 0).substr(4);
    cMemoryFlowChunk list;
    ASSERT_TRUE(load(list, bytes));
    EXPECT_EQ(list.LastChunk()->allocated, 5000 + 6552 + 16);
  }

  EXPECT_FALSE(copy.LoadFrom(nullptr));
  EXPECT_EQ(copy.LastError(), errInvariant);
  EXPECT_FALSE(copy.SaveTo(nullptr));
  EXPECT_EQ(copy.LastError(), errInvariant);
}

// Plain arrays write their payloads without link fields, for every link kind.
TEST(Flow, ArrayPayloadRoundTrip) {
  for (uint8_t kind = 0; kind <= 3; ++kind) {
    SCOPED_TRACE(int(kind));
    const uint32_t links = kind == 3 ? 16 : (kind == 0 ? 0 : 8);
    cArray a(links + 8, kind, 5);
    for (uint64_t i = 0; i < 40; ++i) {
      auto* e = static_cast<uint8_t*>(a.Append(1));
      ASSERT_NE(e, nullptr);
      std::memcpy(e + links, &i, 8);
    }
    auto store = cMemoryFlow::Construct();
    ASSERT_TRUE(store->Create());
    ASSERT_TRUE(a.SaveTo(store.get()));
    EXPECT_EQ(store->Size(), 4 + 40 * 8);
    ASSERT_TRUE(store->Seek(0));
    cArray b(links + 8, kind, 5);
    ASSERT_NE(b.Append(3), nullptr);  // present entries are overwritten
    ASSERT_TRUE(b.LoadFrom(store.get()));
    ASSERT_EQ(b.Count(), 40u);
    for (uint32_t i = 1; i <= 40; ++i) {
      uint64_t v = 0;
      std::memcpy(&v, static_cast<uint8_t*>(b.Get(i)) + links, 8);
      EXPECT_EQ(v, i - 1);
    }
    // A count the flow cannot back fails without appending it all.
    auto lie = cMemoryFlow::Construct();
    ASSERT_TRUE(lie->Create());
    uint8_t raw[4];
    put_le32(raw, 0x7FFFFFFF);
    ASSERT_TRUE(lie->Write(raw, 4));
    ASSERT_TRUE(lie->Seek(0));
    EXPECT_FALSE(b.LoadFrom(lie.get()));
    EXPECT_EQ(b.LastError(), errArrayRead);
    EXPECT_LE(b.Count(), 40u + 4096u);
  }
}
