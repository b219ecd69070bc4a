#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "qlm_base_crc.h"
#include "qlm_base_util.h"
#include "qlm_zlib.h"

namespace {

std::vector<uint8_t> deflate_bytes(const std::string& plain, int level = 6) {
  uLongf size = compressBound(uLong(plain.size()));
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, reinterpret_cast<const Bytef*>(plain.data()), uLong(plain.size()), level),
            Z_OK);
  out.resize(size);
  return out;
}

// Decompresses and returns the text, or "<fail>".
std::string inflate_text(const void* src, int32_t size) {
  void* out = nullptr;
  int32_t out_size = -1;
  if (!zlib_decompress(src, size, out, out_size)) {
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(out_size, 0);
    return "<fail>";
  }
  std::string text(static_cast<const char*>(out), size_t(out_size));
  mem_free(out);
  return text;
}

}  // namespace

TEST(Crc, RegisterWithoutFinalInversion) {
  EXPECT_EQ(crc32_update(0xFFFFFFFFu, "123456789", 9), 0x340BC6D9u);
  EXPECT_EQ(~crc32_update(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(crc32_update(0x1234u, "x", 0), 0x1234u);
  EXPECT_EQ(crc32_update(0x1234u, "x", -3), 0x1234u);
  // In two pieces, chained, as over the whole.
  const std::string data(1000, 'q');
  const uint32_t whole = crc32_update(0xFFFFFFFFu, data.data(), 1000);
  EXPECT_EQ(crc32_update(crc32_update(0xFFFFFFFFu, data.data(), 333), data.data() + 333, 667), whole);
  // A single-byte table entry: the register of byte i from 0.
  EXPECT_EQ(crc32_update(0, "\x01", 1), 0x77073096u);
}

TEST(Xor, RepeatingKey) {
  uint8_t buf[7] = {0, 0, 0, 0, 0, 0, 0};
  xor_buffer(buf, 7, "abc");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 7), "abcabca");
  xor_buffer(buf, 7, "abc");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 7), std::string(7, '\0'));
  xor_buffer(buf, 7, "");
  xor_buffer(buf, 0, "abc");
  xor_buffer(buf, -1, "abc");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 7), std::string(7, '\0'));
  EXPECT_EQ(xor_string("k", ""), "");
  EXPECT_EQ(xor_string("key", xor_string("key", "secret text")), "secret text");
}

TEST(Zlib, RoundTrips) {
  for (const std::string& plain : {std::string("hello"), std::string(100000, 'z'), std::string(1, '\0')}) {
    auto packed = deflate_bytes(plain);
    EXPECT_EQ(inflate_text(packed.data(), int32_t(packed.size())), plain);
  }
  // Random-ish data that barely compresses.
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 50000; ++i) noise.push_back(char((x = x * 1103515245u + 12345u) >> 24));
  auto packed = deflate_bytes(noise, 9);
  EXPECT_EQ(inflate_text(packed.data(), int32_t(packed.size())), noise);
  // A stream that inflates to nothing is a valid empty result.
  auto empty = deflate_bytes("");
  void* out = reinterpret_cast<void*>(0);
  int32_t out_size = -1;
  EXPECT_TRUE(zlib_decompress(empty.data(), int32_t(empty.size()), out, out_size));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(out_size, 0);
}

TEST(Zlib, LargeOutputGrowsQuickly) {
  // 16 MiB of zeros from about 16 KiB: geometric growth keeps this fast.
  std::string zeros(16u << 20, '\0');
  auto packed = deflate_bytes(zeros, 9);
  void* out = nullptr;
  int32_t out_size = 0;
  ASSERT_TRUE(zlib_decompress(packed.data(), int32_t(packed.size()), out, out_size));
  EXPECT_EQ(out_size, int32_t(zeros.size()));
  mem_free(out);
}

TEST(Zlib, HostileStreamsFailPromptly) {
  const auto good = deflate_bytes(std::string(5000, 'a') + "tail");
  // Truncated: every proper prefix fails.
  for (size_t n : {size_t(0), size_t(1), size_t(2), good.size() / 2, good.size() - 1})
    EXPECT_EQ(inflate_text(good.data(), int32_t(n)), "<fail>") << n;
  EXPECT_EQ(inflate_text(nullptr, 10), "<fail>");
  EXPECT_EQ(inflate_text(good.data(), -1), "<fail>");
  // Raw deflate without the zlib header.
  EXPECT_EQ(inflate_text(good.data() + 2, int32_t(good.size() - 2)), "<fail>");
  // Garbage.
  const std::string garbage = "\x78\x9c garbage that is not deflate";
  EXPECT_EQ(inflate_text(garbage.data(), int32_t(garbage.size())), "<fail>");
  // A stream that asks for a preset dictionary.
  z_stream s{};
  ASSERT_EQ(deflateInit(&s, 6), Z_OK);
  const char dict[] = "dictionary words";
  ASSERT_EQ(deflateSetDictionary(&s, reinterpret_cast<const Bytef*>(dict), sizeof dict), Z_OK);
  std::vector<uint8_t> out(256);
  std::string plain = "dictionary words dictionary";
  s.next_in = reinterpret_cast<Bytef*>(plain.data());
  s.avail_in = uInt(plain.size());
  s.next_out = out.data();
  s.avail_out = uInt(out.size());
  ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  EXPECT_EQ(inflate_text(out.data(), int32_t(out.size())), "<fail>");
}

TEST(Zlib, AllocationFailureGivesFalse) {
  const auto good = deflate_bytes(std::string(3000, 'b'));
  for (int k = 1; k <= 3; ++k) {
    mem_alloc_fail_at(k);
    void* out = nullptr;
    int32_t size = 0;
    const bool ok = zlib_decompress(good.data(), int32_t(good.size()), out, size);
    mem_alloc_fail_at(0);
    if (ok) {
      EXPECT_EQ(size, 3000);
      mem_free(out);
    } else {
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(size, 0);
    }
  }
}

// The output limit and the expected-size form: exact sizes pass, one byte
// more or less fails, a damaged stream is told apart from one of another
// length, and a stream far longer than the limit stops at the limit instead
// of being inflated in full.
TEST(Zlib, LimitAndExpectedSize) {
  std::string plain;
  for (int i = 0; i < 5000; ++i) plain += char('a' + (i * 7) % 26);
  const auto good = deflate_bytes(plain);
  const auto empty = deflate_bytes("");
  auto damaged = good;
  damaged[damaged.size() / 2] ^= 0x55;
  const int32_t n = int32_t(plain.size());
  const struct {
    const std::vector<uint8_t>* stream;
    int64_t limit;
    bool ok;        // zlib_decompress with the limit
    int32_t sized;  // zlib_decompress_sized with the limit as the size
  } cases[] = {
      {&good, n, true, cnZlibOk},
      {&good, n + 1, true, cnZlibLengthDiffers},
      {&good, n - 1, false, cnZlibLengthDiffers},
      {&good, 1, false, cnZlibLengthDiffers},
      {&good, 0, false, cnZlibLengthDiffers},
      {&empty, 0, true, cnZlibOk},
      {&empty, 1, true, cnZlibLengthDiffers},
      {&damaged, n, false, cnZlibFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stream->size() << " bytes, limit " << c.limit);
    void* out = nullptr;
    int32_t size = -1;
    const int32_t in_size = int32_t(c.stream->size());
    EXPECT_EQ(zlib_decompress(c.stream->data(), in_size, out, size, c.limit), c.ok);
    if (c.ok) {
      const std::string expected = c.stream == &empty ? "" : plain;
      EXPECT_EQ(std::string(static_cast<const char*>(out), size_t(size)), expected);
      EXPECT_EQ(out == nullptr, expected.empty());
    } else {
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(size, 0);
    }
    mem_free(out);
    EXPECT_EQ(zlib_decompress_sized(c.stream->data(), in_size, int32_t(c.limit), out), c.sized);
    if (c.sized == cnZlibOk && c.limit > 0) {
      EXPECT_EQ(std::string(static_cast<const char*>(out), size_t(c.limit)), plain);
    } else {
      EXPECT_EQ(out, nullptr);
    }
    mem_free(out);
  }
  void* out = nullptr;
  EXPECT_EQ(zlib_decompress_sized(nullptr, 4, 4, out), cnZlibFailed);
  EXPECT_EQ(zlib_decompress_sized(good.data(), int32_t(good.size()), -1, out), cnZlibFailed);

  // 64 MiB of zeros against a limit of 4 KiB: one block of at most the limit
  // is ever asked for, and the answer comes long before 64 MiB are inflated.
  const auto bomb = deflate_bytes(std::string(size_t(64) << 20, '\0'), 9);
  mem_alloc_fail_at(1000000);  // counts without failing
  int32_t size = 0;
  EXPECT_FALSE(zlib_decompress(bomb.data(), int32_t(bomb.size()), out, size, 4096));
  EXPECT_EQ(mem_alloc_count(), 1);
  EXPECT_EQ(zlib_decompress_sized(bomb.data(), int32_t(bomb.size()), 4096, out), cnZlibLengthDiffers);
  EXPECT_EQ(mem_alloc_count(), 2);
  mem_alloc_fail_at(0);
}

// Growing in place: every growth step and the final shrink go through
// mem_realloc, and a failure at any of them gives false with nothing held.
TEST(Zlib, GrowsInPlaceAndFailsCleanlyAtEveryStep) {
  std::string plain(size_t(3) << 20, 'x');
  for (size_t i = 0; i < plain.size(); i += 97) plain[i] = char('a' + i % 26);
  const auto packed = deflate_bytes(plain);
  mem_alloc_fail_at(1000000);
  void* out = nullptr;
  int32_t size = 0;
  ASSERT_TRUE(zlib_decompress(packed.data(), int32_t(packed.size()), out, size));
  const int64_t steps = mem_alloc_count();
  mem_alloc_fail_at(0);
  EXPECT_EQ(std::string(static_cast<const char*>(out), size_t(size)), plain);
  mem_free(out);
  EXPECT_GT(steps, 2);
  for (int64_t k = 1; k <= steps; ++k) {
    mem_alloc_fail_at(k);
    EXPECT_FALSE(zlib_decompress(packed.data(), int32_t(packed.size()), out, size)) << k;
    mem_alloc_fail_at(0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0);
  }
}

TEST(Zlib, OutputLimit) {
  const std::string plain(100000, 'z');
  const std::vector<uint8_t> packed = deflate_bytes(plain, 9);
  struct Case {
    int64_t limit;
    bool ok, over;
  };
  // Exactly the size passes; one byte less is over.
  const Case cases[] = {{cnZlibNoLimit, true, false},
                        {100000, true, false},
                        {99999, false, true},
                        {10, false, true},
                        {int64_t(1) << 40, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    void* out = nullptr;
    int32_t out_size = -1;
    bool over = !c.over;
    EXPECT_EQ(zlib_decompress(packed.data(), int32_t(packed.size()), out, out_size, c.limit, &over), c.ok);
    EXPECT_EQ(over, c.over);
    EXPECT_EQ(out_size, c.ok ? 100000 : 0);
    mem_free(out);
  }
  // A damaged stream is not over the limit.
  std::vector<uint8_t> cut(packed.begin(), packed.begin() + 20);
  void* out = nullptr;
  int32_t out_size = 0;
  bool over = true;
  EXPECT_FALSE(zlib_decompress(cut.data(), int32_t(cut.size()), out, out_size, 1 << 20, &over));
  EXPECT_FALSE(over);
}
