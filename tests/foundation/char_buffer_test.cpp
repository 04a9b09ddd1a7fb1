#include "foundation/char_buffer.h"

#include <cstring>

#include "foundation/heap.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

const char* Text(const CharBuffer& buffer) { return static_cast<const char*>(buffer.Data()); }

TEST(CharBufferTest, GrowthRuleExamples) {
  const uint32_t examples[][2] = {
      {0, 16},        {15, 16},       {16, 16},         {17, 32},         {522, 1024},
      {4096, 4096},   {4097, 8192},   {5000, 8192},     {8192, 11264},    {11264, 11264},
      {11265, 19456}, {12000, 19456}, {262144, 265216}, {262145, 524288}, {524288, 524288}};
  for (const auto& [request, size] : examples) {
    EXPECT_EQ(CharBufferBlock::GrowthSize(request), size) << request;
  }
  // Rounding past 4 GiB cannot be represented; the request stands as it is.
  EXPECT_EQ(CharBufferBlock::GrowthSize(0xFFFFFFF0u), 0xFFFFFFF0u);
}

TEST(CharBufferTest, ResizeGrowsByPolicyOrExactlyAndKeepsTheContents) {
  CharBuffer buffer;
  ASSERT_TRUE(buffer.Resize(522, CharBuffer::GrowByPolicy | CharBuffer::SetSizeExactly));
  EXPECT_EQ(buffer.Capacity(), 1024u);
  std::memcpy(buffer.Data(), "contents", 9);
  // Without SetSizeExactly a smaller request keeps the size.
  EXPECT_TRUE(buffer.Resize(10, 0));
  EXPECT_EQ(buffer.Size(), 522u);
  EXPECT_TRUE(buffer.Resize(10, CharBuffer::SetSizeExactly));
  EXPECT_EQ(buffer.Size(), 10u);
  EXPECT_TRUE(buffer.Resize(1000, 0));
  EXPECT_EQ(buffer.Capacity(), 1024u);
  ASSERT_TRUE(buffer.Resize(8193, 0));
  EXPECT_EQ(buffer.Capacity(), 8193u);
  EXPECT_STREQ(Text(buffer), "contents");
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
    EXPECT_FALSE(buffer.Resize(17, CharBuffer::GrowByPolicy));
    // Shrinking needs no memory.
    EXPECT_TRUE(buffer.Resize(8, CharBuffer::SetSizeExactly));
  }
  EXPECT_EQ(buffer.Size(), 8u);
  EXPECT_EQ(buffer.Capacity(), 16u);
  EXPECT_STREQ(Text(buffer), "kept");
}

}  // namespace
}  // namespace quorvel
