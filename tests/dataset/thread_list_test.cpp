#include "dataset/thread_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace velquarn {
namespace {

TEST(ThreadList, AddingIgnoresDuplicatesAndNull) {
  TcsThreadList<int> list;
  int a = 1, b = 2;
  EXPECT_TRUE(list.Add(&a));
  EXPECT_FALSE(list.Add(&a));
  EXPECT_FALSE(list.Add(nullptr));
  EXPECT_TRUE(list.Add(&b));
  EXPECT_EQ(list.LockedCount(), 2);
}

TEST(ThreadList, TakeFirstAndTakeLastEmptyTheList) {
  TcsThreadList<int> list;
  int a = 1, b = 2, c = 3;
  list.Add(&a);
  list.Add(&b);
  list.Add(&c);
  EXPECT_EQ(list.TakeFirst(), &a);
  EXPECT_EQ(list.TakeLast(), &c);
  EXPECT_TRUE(list.Remove(&b));
  EXPECT_FALSE(list.Remove(&b));
  EXPECT_EQ(list.TakeFirst(), nullptr);
  EXPECT_EQ(list.TakeLast(), nullptr);
  EXPECT_EQ(list.LockedCount(), 0);
}

TEST(ThreadList, ConcurrentTakersNeverShareAnItem) {
  constexpr int kItems = 2000;
  std::vector<int> items(kItems);
  TcsThreadList<int> list;
  for (int& item : items) list.Add(&item);
  constexpr int kThreads = 8;
  std::vector<std::vector<int*>> taken(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      int given_back = 0;
      while (int* item = (t % 2 == 0) ? list.TakeFirst() : list.TakeLast()) {
        if (given_back < 50) {
          ++given_back;
          list.Add(item);  // some go back, as released connections do
          continue;
        }
        taken[t].push_back(item);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<int*> seen;
  for (const auto& part : taken) {
    for (int* item : part) EXPECT_TRUE(seen.insert(item).second);
  }
  EXPECT_EQ(static_cast<int>(seen.size()), kItems);
}

}  // namespace
}  // namespace velquarn
