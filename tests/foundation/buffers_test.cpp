// The character buffer and the growable array, including allocations that fail.
#include <cstring>

#include "foundation/char_buffer.h"
#include "foundation/dyn_array.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

TEST(CharBufferTest, GrowsByPolicyOrExactlyKeepsItsContentsAndSurvivesAFailedAllocation) {
  const uint32_t sizes[][2] = {
      {0, 16},        {4096, 4096},     {4097, 8192},     {8192, 11264},
      {11265, 19456}, {262144, 265216}, {262145, 524288}, {0xFFFFFFF0u, 0xFFFFFFF0u}};
  for (const auto& [request, size] : sizes) {
    EXPECT_EQ(CharBufferBlock::GrowthSize(request), size) << request;
  }
  CharBuffer buffer;
  ASSERT_TRUE(buffer.Resize(522, CharBuffer::GrowByPolicy | CharBuffer::SetSizeExactly));
  std::memcpy(buffer.Data(), "kept", 5);
  EXPECT_TRUE(buffer.Resize(10, 0) && buffer.Size() == 522) << "a smaller request keeps the size";
  EXPECT_TRUE(buffer.Resize(1000, CharBuffer::GrowByPolicy) && buffer.Capacity() == 1024)
      << "capacity " << buffer.Capacity();
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(buffer.Resize(1025, CharBuffer::GrowByPolicy));
    EXPECT_TRUE(buffer.Resize(8, CharBuffer::SetSizeExactly));  // shrinking needs no memory
  }
  EXPECT_TRUE(buffer.Size() == 8 && buffer.Resize(8193, 0) && buffer.Capacity() == 8193)
      << "size " << buffer.Size() << ", capacity " << buffer.Capacity();
  EXPECT_STREQ(static_cast<const char*>(buffer.Data()), "kept");
  buffer.Reset();
  EXPECT_TRUE(buffer.Size() == 0 && buffer.Data() == nullptr)
      << "after Reset: size " << buffer.Size();
}

TEST(DynArrayTest, GrowsByTheCapacityRuleRefusesWhatItCannotHaveAndLeavesStorageItDoesNotOwn) {
  const uint32_t capacities[][2] = {{0, 4}, {5, 8}, {16384, 16384}, {32769, 49152}};
  for (const auto& [wanted, capacity] : capacities) {
    EXPECT_EQ(GrowCapacity(wanted), capacity) << wanted;
  }
  DynArray<uintptr_t> array;
  for (uintptr_t i = 0; i < 32; ++i) {
    ASSERT_TRUE(array.Append(i));
  }
  EXPECT_FALSE(array.Reserve(31) || array.Reserve(0x7FFFFFFF) || array.Reserve(0x80000000u))
      << "capacity " << array.Capacity();
  EXPECT_TRUE(array.Reserve(32) && array.OwnsItems() && array[31] == 31 && array[3] == 3)
      << "capacity " << array.Capacity() << ", items " << array[3] << " " << array[31];
  uintptr_t* items = array.Items();
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(array.Append(99));
  }
  EXPECT_TRUE(array.Count() == 32 && array.Capacity() == 32 && array.Items() == items)
      << "after the failed Append: count " << array.Count() << ", capacity " << array.Capacity();
  EXPECT_TRUE(array.Append(32) && array.Capacity() == 64 && array[32] == 32 && array[31] == 31)
      << "capacity " << array.Capacity() << ", items " << array[31] << " " << array[32];
  EXPECT_TRUE(array.Remove(3) && !array.Remove(3) && array[3] == 32 && array.Count() == 32)
      << "count " << array.Count() << ", item 3 " << array[3];
  array.Clear();
  EXPECT_TRUE(array.Count() == 0 && array.Items() == nullptr && !array.OwnsItems())
      << "after Clear: count " << array.Count();
  // Storage the array does not own is left behind by growth and zeroed by Clear.
  int storage[2] = {1, 2};
  DynArray<int> grown(storage, 2, 2);
  ASSERT_TRUE(grown.Append(3));
  EXPECT_TRUE(grown.OwnsItems() && grown.Items() != storage && grown[0] == 1 && grown[2] == 3)
      << "items " << grown[0] << " " << grown[2];
  EXPECT_TRUE(storage[0] == 1 && storage[1] == 2) << "the caller's storage is left as it was"
                                                  << ": " << storage[0] << " " << storage[1];
  DynArray<int> cleared(storage, 2, 1);
  cleared.Clear();
  EXPECT_TRUE(cleared.Items() == storage && cleared.Capacity() == 2 && !cleared.OwnsItems())
      << "capacity " << cleared.Capacity();
  EXPECT_TRUE(storage[0] == 0 && storage[1] == 0) << "zeroed over its whole capacity"
                                                  << ": " << storage[0] << " " << storage[1];
}

}  // namespace
}  // namespace quorvel
