#include "foundation/dyn_array.h"

#include "gtest/gtest.h"

namespace quorvel {
namespace {

int g_values[3];
int* const kFirst = &g_values[0];
int* const kSecond = &g_values[1];
int* const kThird = &g_values[2];

TEST(DynArrayTest, CapacityRuleExamples) {
  const struct {
    uint32_t wanted;
    uint32_t capacity;
  } examples[] = {{0, 4},         {4, 4},         {5, 8},         {8, 8},
                  {9, 16},        {1000, 1024},   {16384, 16384}, {16385, 32768},
                  {20000, 32768}, {32768, 32768}, {32769, 49152}};
  for (const auto& example : examples) {
    EXPECT_EQ(GrowCapacity(example.wanted), example.capacity) << example.wanted;
  }
}

TEST(DynArrayTest, AppendGrowsThroughTheCapacityRuleAndClearFreesTheStorage) {
  DynArray<uintptr_t> array;
  EXPECT_FALSE(array.OwnsItems());
  for (uintptr_t i = 0; i < 16385; ++i) {
    ASSERT_TRUE(array.Append(i));
    ASSERT_EQ(array.Capacity(), GrowCapacity(static_cast<uint32_t>(i + 1))) << i;
  }
  EXPECT_TRUE(array.OwnsItems());
  for (uint32_t i = 0; i < array.Count(); ++i) {
    ASSERT_EQ(array[i], i);
  }
  array.Clear();
  EXPECT_EQ(array.Count(), 0u);
  EXPECT_EQ(array.Items(), nullptr);
  EXPECT_EQ(array.Capacity(), 0u);
  EXPECT_FALSE(array.OwnsItems());
}

TEST(DynArrayTest, ReserveAndAppendRefuseWhatTheyCannotHaveAndKeepTheArray) {
  DynArray<int*> array;
  for (int i = 0; i < 4; ++i) {
    array.Append(kFirst);
  }
  EXPECT_FALSE(array.Reserve(3));
  EXPECT_TRUE(array.Reserve(4));
  // Byte sizes beyond 32 bits and capacities that would reach the owner bit are refused.
  EXPECT_FALSE(array.Reserve(0x7FFFFFFF));
  EXPECT_FALSE(array.Reserve(0x80000000u));
  int** items = array.Items();
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(array.Append(kSecond));
  }
  EXPECT_EQ(array.Count(), 4u);
  EXPECT_EQ(array.Capacity(), 4u);
  EXPECT_EQ(array.Items(), items);
  EXPECT_TRUE(array.Append(kSecond));
  EXPECT_EQ(array.Capacity(), 8u);
  EXPECT_EQ(array[4], kSecond);
}

TEST(DynArrayTest, RemoveMovesTheLastElementIntoTheGap) {
  DynArray<int*> array;
  array.Append(kFirst);
  array.Append(kSecond);
  array.Append(kThird);
  EXPECT_TRUE(array.Remove(kFirst));
  ASSERT_EQ(array.Count(), 2u);
  EXPECT_EQ(array[0], kThird);
  EXPECT_EQ(array[1], kSecond);
  EXPECT_FALSE(array.Remove(kFirst));
  EXPECT_TRUE(array.Remove(kSecond));
  EXPECT_EQ(array.Count(), 1u);
}

TEST(DynArrayTest, StorageNotOwnedIsZeroedByClearAndLeftBehindByGrowth) {
  int* storage[4] = {kFirst, kSecond, kThird, kFirst};
  {
    DynArray<int*> array(storage, 4, 2);
    EXPECT_FALSE(array.OwnsItems());
    array.Clear();
    EXPECT_EQ(array.Count(), 0u);
    EXPECT_EQ(array.Items(), storage);
    EXPECT_EQ(array.Capacity(), 4u);
    for (int* slot : storage) {
      EXPECT_EQ(slot, nullptr);
    }
  }
  int* caller[2] = {kFirst, kSecond};
  DynArray<int*> array(caller, 2, 2);
  ASSERT_TRUE(array.Append(kThird));
  EXPECT_TRUE(array.OwnsItems());
  EXPECT_NE(array.Items(), caller);
  EXPECT_EQ(array[0], kFirst);
  EXPECT_EQ(array[2], kThird);
  // The caller's storage is neither changed nor freed by the move.
  EXPECT_EQ(caller[0], kFirst);
  EXPECT_EQ(caller[1], kSecond);
}

}  // namespace
}  // namespace quorvel
