#include "foundation/char_buffer.h"

#include <cstring>

#include "foundation/heap.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

constexpr uint32_t kBoth = CharBuffer::GrowByPolicy | CharBuffer::SetSizeExactly;

TEST(CharBufferTest, GrowthRuleExamples) {
  const struct {
    uint32_t request;
    uint32_t size;
  } examples[] = {{0, 16},          {15, 16},         {16, 16},        {17, 32},
                  {522, 1024},      {4096, 4096},     {4097, 8192},    {5000, 8192},
                  {8192, 11264},    {11264, 11264},   {11265, 19456},  {12000, 19456},
                  {262144, 265216}, {262145, 524288}, {524288, 524288}};
  for (const auto& example : examples) {
    EXPECT_EQ(CharBufferBlock::GrowthSize(example.request), example.size) << example.request;
  }
  // Rounding past 4 GiB cannot be represented; the request stands as it is.
  EXPECT_EQ(CharBufferBlock::GrowthSize(0xFFFFFFF0u), 0xFFFFFFF0u);
}

TEST(CharBufferTest, ANewBufferHasNoMemory) {
  CharBuffer buffer;
  EXPECT_EQ(buffer.Size(), 0u);
  EXPECT_EQ(buffer.Data(), nullptr);
  buffer.Reset();
  EXPECT_EQ(buffer.Size(), 0u);
  EXPECT_EQ(buffer.Data(), nullptr);
}

TEST(CharBufferTest, TheFolderPathBufferAndItsShrinking) {
  CharBuffer buffer;
  ASSERT_TRUE(buffer.Resize(522, kBoth));
  EXPECT_EQ(buffer.Size(), 522u);
  EXPECT_EQ(buffer.Capacity(), 1024u);
  std::memcpy(buffer.Data(), "contents", 9);
  void* memory = buffer.Data();

  EXPECT_TRUE(buffer.Resize(10, 0));
  EXPECT_EQ(buffer.Size(), 522u);
  EXPECT_TRUE(buffer.Resize(10, CharBuffer::SetSizeExactly));
  EXPECT_EQ(buffer.Size(), 10u);
  EXPECT_EQ(buffer.Capacity(), 1024u);
  EXPECT_EQ(buffer.Data(), memory);
  EXPECT_STREQ(static_cast<const char*>(buffer.Data()), "contents");

  // Back up within the capacity: the memory stays where it is.
  EXPECT_TRUE(buffer.Resize(1000, 0));
  EXPECT_EQ(buffer.Size(), 1000u);
  EXPECT_EQ(buffer.Data(), memory);
}

TEST(CharBufferTest, GrowingKeepsTheContents) {
  CharBuffer buffer;
  ASSERT_TRUE(buffer.Resize(100, 0));
  EXPECT_EQ(buffer.Capacity(), 100u);
  auto* bytes = static_cast<uint8_t*>(buffer.Data());
  for (uint32_t i = 0; i < 100; ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7);
  }
  ASSERT_TRUE(buffer.Resize(5000, CharBuffer::GrowByPolicy));
  EXPECT_EQ(buffer.Size(), 5000u);
  EXPECT_EQ(buffer.Capacity(), 8192u);
  bytes = static_cast<uint8_t*>(buffer.Data());
  for (uint32_t i = 0; i < 100; ++i) {
    ASSERT_EQ(bytes[i], static_cast<uint8_t>(i * 7)) << i;
  }
  buffer.Reset();
  EXPECT_EQ(buffer.Size(), 0u);
  EXPECT_EQ(buffer.Data(), nullptr);
}

TEST(CharBufferTest, AFailedAllocationLeavesTheBufferAsItWas) {
  CharBuffer buffer;
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(buffer.Resize(16, CharBuffer::GrowByPolicy));
  }
  EXPECT_EQ(buffer.Size(), 0u);
  ASSERT_TRUE(buffer.Resize(16, 0));
  std::memcpy(buffer.Data(), "kept", 5);
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(buffer.Resize(17, kBoth));
    // Shrinking needs no memory.
    EXPECT_TRUE(buffer.Resize(8, CharBuffer::SetSizeExactly));
  }
  EXPECT_EQ(buffer.Size(), 8u);
  EXPECT_EQ(buffer.Capacity(), 16u);
  EXPECT_STREQ(static_cast<const char*>(buffer.Data()), "kept");
}

}  // namespace
}  // namespace quorvel
