// The character buffer and the growable array, including allocations that fail.
#include <cstring>

#include "foundation/char_buffer.h"
#include "foundation/dyn_array.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

int g_values[3];
int* const kA = &g_values[0];
int* const kB = &g_values[1];
int* const kC = &g_values[2];

TEST(CharBufferTest, GrowsByPolicyOrExactlyKeepsItsContentsAndSurvivesAFailedAllocation) {
  for (const auto& [request, size] : {std::pair<uint32_t, uint32_t>{0, 16},
                                      {16, 16},
                                      {17, 32},
                                      {522, 1024},
                                      {4096, 4096},
                                      {4097, 8192},
                                      {8192, 11264},
                                      {11265, 19456},
                                      {262144, 265216},
                                      {262145, 524288},
                                      {0xFFFFFFF0u, 0xFFFFFFF0u}}) {
    EXPECT_EQ(CharBufferBlock::GrowthSize(request), size) << request;
  }
  CharBuffer buffer;
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(buffer.Resize(16, CharBuffer::GrowByPolicy));
  }
  ASSERT_TRUE(buffer.Resize(522, CharBuffer::GrowByPolicy | CharBuffer::SetSizeExactly));
  EXPECT_EQ(buffer.Capacity(), 1024u);
  std::memcpy(buffer.Data(), "kept", 5);
  EXPECT_TRUE(buffer.Resize(10, 0));
  EXPECT_EQ(buffer.Size(), 522u) << "without SetSizeExactly a smaller request keeps the size";
  EXPECT_TRUE(buffer.Resize(1000, CharBuffer::GrowByPolicy));
  EXPECT_EQ(buffer.Capacity(), 1024u);
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(buffer.Resize(1025, CharBuffer::GrowByPolicy));
    EXPECT_TRUE(buffer.Resize(8, CharBuffer::SetSizeExactly));  // shrinking needs no memory
  }
  EXPECT_EQ(buffer.Size(), 8u);
  ASSERT_TRUE(buffer.Resize(8193, 0));
  EXPECT_EQ(buffer.Capacity(), 8193u);
  EXPECT_STREQ(static_cast<const char*>(buffer.Data()), "kept");
  buffer.Reset();
  EXPECT_TRUE(buffer.Size() == 0 && buffer.Data() == nullptr);
}

TEST(DynArrayTest, AppendGrowsByTheCapacityRuleAndRefusesWhatItCannotHave) {
  for (const auto& [wanted, capacity] : {std::pair<uint32_t, uint32_t>{0, 4},
                                         {5, 8},
                                         {9, 16},
                                         {16384, 16384},
                                         {16385, 32768},
                                         {32768, 32768},
                                         {32769, 49152}}) {
    EXPECT_EQ(GrowCapacity(wanted), capacity) << wanted;
  }
  DynArray<uintptr_t> array;
  for (uintptr_t i = 0; i < 17; ++i) {
    ASSERT_TRUE(array.Append(i));
  }
  EXPECT_TRUE(array.OwnsItems() && array.Capacity() == 32 && array[16] == 16 && array[3] == 3);
  EXPECT_FALSE(array.Reserve(16));
  EXPECT_TRUE(array.Reserve(17));
  EXPECT_FALSE(array.Reserve(0x7FFFFFFF));   // beyond 32 bits of bytes
  EXPECT_FALSE(array.Reserve(0x80000000u));  // the owner bit
  for (uintptr_t i = 17; i < 32; ++i) {
    array.Append(i);
  }
  uintptr_t* items = array.Items();
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(array.Append(99));
  }
  EXPECT_TRUE(array.Count() == 32 && array.Capacity() == 32 && array.Items() == items);
  EXPECT_TRUE(array.Append(32));
  EXPECT_TRUE(array.Capacity() == 64 && array[32] == 32 && array[31] == 31);
  array.Clear();
  EXPECT_TRUE(array.Count() == 0 && array.Items() == nullptr && array.Capacity() == 0);
  EXPECT_FALSE(array.OwnsItems());
}

TEST(DynArrayTest, RemoveMovesTheLastElementIntoTheGap) {
  DynArray<int*> array;
  array.Append(kA);
  array.Append(kB);
  array.Append(kC);
  EXPECT_TRUE(array.Remove(kA));
  EXPECT_TRUE(array.Count() == 2 && array[0] == kC && array[1] == kB);
  EXPECT_FALSE(array.Remove(kA));
}

TEST(DynArrayTest, StorageNotOwnedIsZeroedByClearAndLeftBehindByGrowth) {
  int* storage[3] = {kA, kB, kC};
  {
    DynArray<int*> array(storage, 3, 2);
    array.Clear();
    EXPECT_TRUE(array.Items() == storage && array.Capacity() == 3 && !array.OwnsItems());
    EXPECT_TRUE(storage[0] == nullptr && storage[2] == nullptr);
  }
  int* caller[2] = {kA, kB};
  DynArray<int*> array(caller, 2, 2);
  ASSERT_TRUE(array.Append(kC));
  EXPECT_TRUE(array.OwnsItems() && array.Items() != caller);
  EXPECT_TRUE(array[0] == kA && array[1] == kB && array[2] == kC);
  EXPECT_TRUE(caller[0] == kA && caller[1] == kB) << "the caller's storage is left as it was";
}

}  // namespace
}  // namespace quorvel
