// The pointer lists and the critical-section lock.
#include "ravlib/list.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "ravlib/lock.h"

using ravlib::container::CBaseList;
using ravlib::container::CLockList;
using ravlib::container::CQueueList;
using ravlib::sync::lock::CCSLock;

namespace {

int g_objects[100];
int* At(int i) { return &g_objects[i]; }

template <typename List>
std::vector<int*> Contents(const List& list) {
    return std::vector<int*>(list.Items(), list.Items() + list.Count());
}

// A list whose array cannot grow while `refuse` is set, as when memory runs out.
template <typename Base>
class Refusing : public Base {
public:
    bool refuse = false;
    bool SetCapacity(int32_t n) override {
        if (refuse && n > this->Capacity()) return false;
        return Base::SetCapacity(n);
    }
};

TEST(Lists, GrowBySixteenThenDoubling) {
    CCSLock lock;
    CQueueList<int*> queue(&lock);
    queue.Push(At(0));
    EXPECT_EQ(queue.Incoming().Capacity(), 16);
    for (int i = 1; i < 16; ++i) queue.Push(At(i));
    EXPECT_EQ(queue.Incoming().Capacity(), 16);
    queue.Push(At(16));
    EXPECT_EQ(queue.Incoming().Capacity(), 32);
    EXPECT_EQ(queue.Incoming().Count(), 17);

    CBaseList<int*> list;
    for (int i = 0; i < 33; ++i) ASSERT_TRUE(list.Append(At(i)));
    EXPECT_EQ(list.Capacity(), 64);
    for (int i = 0; i < 33; ++i) EXPECT_EQ(list[i], At(i));
}

TEST(Lists, SetCapacityOnlyMovesToASizeAboveTheCount) {
    struct Case {
        int32_t appended, capacityBefore, requested, capacityAfter;
    } cases[] = {
        {5, 16, 5, 16},   // n = count
        {5, 16, 3, 16},   // n < count
        {5, 16, 16, 16},  // n = capacity
        {5, 16, 40, 40},  // grows to exactly n
        {5, 16, 8, 8},    // shrinks spare slots
        {0, 0, 0, 0},
        {0, 0, -4, 0},
    };
    for (const Case& c : cases) {
        CBaseList<int*> list;
        for (int i = 0; i < c.appended; ++i) list.Append(At(i));
        ASSERT_EQ(list.Capacity(), c.capacityBefore);
        int** before = list.Items();
        EXPECT_TRUE(list.SetCapacity(c.requested));
        EXPECT_EQ(list.Capacity(), c.capacityAfter) << "requested " << c.requested;
        if (c.capacityAfter == c.capacityBefore) {
            EXPECT_EQ(list.Items(), before);
        }
        EXPECT_EQ(list.Count(), c.appended);
        for (int i = 0; i < c.appended; ++i) EXPECT_EQ(list[i], At(i));
    }
}

TEST(Lists, AppendArrayRemoveAndClear) {
    CBaseList<int*> list;
    list.Append(At(0));
    int* more[] = {At(1), At(2), At(3), At(4)};
    ASSERT_TRUE(list.AppendArray(more, 4));
    EXPECT_EQ(list.Capacity(), 16);  // enough room: no reallocation
    std::vector<int*> extra;
    for (int i = 5; i < 25; ++i) extra.push_back(At(i));
    ASSERT_TRUE(list.AppendArray(extra.data(), 20));
    EXPECT_EQ(list.Capacity(), 25);  // exactly count + n
    EXPECT_TRUE(list.AppendArray(nullptr, 0));
    EXPECT_FALSE(list.AppendArray(more, -1));
    EXPECT_EQ(list.Count(), 25);

    EXPECT_TRUE(list.RemoveAt(0));
    EXPECT_TRUE(list.RemoveAt(10));  // At(11)
    EXPECT_TRUE(list.RemoveAt(list.Count() - 1));
    EXPECT_FALSE(list.RemoveAt(list.Count()));
    EXPECT_FALSE(list.RemoveAt(-1));
    EXPECT_TRUE(list.Remove(At(7)));
    EXPECT_FALSE(list.Remove(At(7)));
    std::vector<int*> expected;
    for (int i = 1; i < 24; ++i)
        if (i != 11 && i != 7) expected.push_back(At(i));
    EXPECT_EQ(Contents(list), expected);

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.Items(), nullptr);
    EXPECT_TRUE(list.Append(At(1)));
    EXPECT_EQ(list.Capacity(), 16);
}

TEST(Lists, MergeMovesIncomingBehindTheMainList) {
    CCSLock lock;
    CQueueList<int*> queue(&lock);
    ASSERT_TRUE(queue.Merge());  // nothing anywhere
    EXPECT_EQ(queue.Capacity(), 0);

    for (int i = 0; i < 3; ++i) queue.Push(At(i));
    EXPECT_EQ(queue.Count(), 0);
    ASSERT_TRUE(queue.Merge());
    EXPECT_EQ(Contents(queue), (std::vector<int*>{At(0), At(1), At(2)}));
    EXPECT_EQ(queue.Capacity(), 3);  // exactly what was needed
    EXPECT_EQ(queue.Incoming().Count(), 0);
    EXPECT_EQ(queue.Incoming().Capacity(), 16);  // kept for the next pushes

    // An empty incoming list leaves the main list untouched.
    int** items = queue.Items();
    ASSERT_TRUE(queue.Merge());
    EXPECT_EQ(queue.Items(), items);
    EXPECT_EQ(queue.Capacity(), 3);
    EXPECT_EQ(queue.Count(), 3);

    queue.RemoveAt(1);
    queue.Push(At(7));
    queue.Push(At(8));
    ASSERT_TRUE(queue.Merge());
    EXPECT_EQ(Contents(queue), (std::vector<int*>{At(0), At(2), At(7), At(8)}));
}

TEST(Lists, FailedGrowthLeavesTheListAsItWas) {
    Refusing<CBaseList<int*>> list;
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(list.Append(At(i)));
    list.refuse = true;
    EXPECT_FALSE(list.Append(At(16)));
    int* two[] = {At(20), At(21)};
    EXPECT_FALSE(list.AppendArray(two, 2));
    EXPECT_EQ(list.Count(), 16);
    EXPECT_EQ(list.Capacity(), 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(list[i], At(i));

    // A merge that cannot grow the main list keeps the incoming elements for later.
    CCSLock lock;
    Refusing<CQueueList<int*>> queue;
    queue.SetLock(&lock);
    queue.Push(At(1));
    queue.refuse = true;
    EXPECT_FALSE(queue.Merge());
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(queue.Incoming().Count(), 1);
    queue.refuse = false;
    EXPECT_TRUE(queue.Merge());
    EXPECT_EQ(Contents(queue), std::vector<int*>{At(1)});
}

// Several producers push while the consumer merges: every element arrives exactly
// once and each producer's elements keep their order.
struct Producer {
    CQueueList<int*>* queue;
    int id;
    static const int kCount = 20000;
    static int* Value(int id, int i) { return reinterpret_cast<int*>((intptr_t(id) << 24) | (i + 1)); }
    static DWORD WINAPI Run(void* self) {
        Producer* p = static_cast<Producer*>(self);
        for (int i = 0; i < kCount; ++i)
            if (!p->queue->Push(Value(p->id, i))) return 1;
        return 0;
    }
};

TEST(Lists, ProducersAndOneConsumer) {
    CCSLock lock;
    CQueueList<int*> queue(&lock);
    const int kProducers = 4;
    Producer producers[kProducers];
    HANDLE threads[kProducers];
    for (int i = 0; i < kProducers; ++i) {
        producers[i] = Producer{&queue, i + 1};
        threads[i] = CreateThread(nullptr, 0, Producer::Run, &producers[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    int next[kProducers + 1] = {};
    int total = 0;
    bool running = true;
    while (running) {
        running = WaitForMultipleObjects(kProducers, threads, TRUE, 0) == WAIT_TIMEOUT;
        ASSERT_TRUE(queue.Merge());
        // Walk the main list without the lock, taking everything off it.
        for (int i = 0; i < queue.Count(); ++i) {
            intptr_t v = reinterpret_cast<intptr_t>(queue[i]);
            int id = static_cast<int>(v >> 24), index = static_cast<int>(v & 0xFFFFFF) - 1;
            ASSERT_GE(id, 1);
            ASSERT_LE(id, kProducers);
            ASSERT_EQ(index, next[id]) << "producer " << id;
            ++next[id];
            ++total;
        }
        queue.Clear();
    }
    for (int i = 0; i < kProducers; ++i) {
        DWORD code = 99;
        GetExitCodeThread(threads[i], &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(threads[i]);
    }
    EXPECT_EQ(total, kProducers * Producer::kCount);
}

TEST(Locks, CriticalSectionIsReentrantAndExcludesOtherThreads) {
    CCSLock lock;
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());  // re-entrant for the holder
    struct Probe {
        static DWORD WINAPI Run(void* lock) {
            return static_cast<CCSLock*>(lock)->TryLock() ? (static_cast<CCSLock*>(lock)->Unlock(), 1)
                                                           : 0;
        }
    };
    auto tryFromOtherThread = [&lock]() {
        HANDLE thread = CreateThread(nullptr, 0, Probe::Run, &lock, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        DWORD taken = 2;
        GetExitCodeThread(thread, &taken);
        CloseHandle(thread);
        return taken;
    };
    EXPECT_EQ(tryFromOtherThread(), 0u);
    lock.Unlock();
    EXPECT_EQ(tryFromOtherThread(), 0u);  // still held once
    lock.Unlock();
    EXPECT_EQ(tryFromOtherThread(), 1u);

    // A lock list without a lock takes none.
    CLockList<int*> unlocked;
    unlocked.Lock();
    unlocked.Append(At(1));
    unlocked.Unlock();
    EXPECT_EQ(unlocked.Count(), 1);
}

}  // namespace
