// The request queue: order, emptiness and exclusive operations under two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Queue.h"

namespace morlen {
namespace {

TEST(Queue, RequestsComeOutInPostingOrder) {
    Queue q;
    q.Push('1', '+');
    q.Push('1', '-');
    q.Push('2', '+');
    std::string seen;
    while (!q.IsEmpty()) {
        const APCommandToSend r = q.Front();
        seen += r.code;
        seen += r.argument;
        q.Pop();
    }
    EXPECT_EQ(seen, "1+1-2+");
}

TEST(Queue, FrontLeavesTheRequestInPlace) {
    Queue q;
    q.Push('W', '-');
    EXPECT_EQ(q.Front().code, 'W');
    EXPECT_FALSE(q.IsEmpty());
    EXPECT_EQ(q.Front().code, 'W');
}

TEST(Queue, PopAndClearOnAnEmptyQueueDoNothing) {
    Queue q;
    q.Pop();
    q.Clear();
    EXPECT_TRUE(q.IsEmpty());
    q.Push('a', '-');
    q.Pop();
    q.Pop();
    EXPECT_TRUE(q.IsEmpty());
}

TEST(Queue, PushAfterEmptyingBecomesHeadAndTail) {
    Queue q;
    q.Push('a', '-');
    q.Push('b', '-');
    q.Pop();
    q.Pop();
    q.Push('c', '+');
    EXPECT_EQ(q.Front().code, 'c');
    q.Push('d', '+');
    q.Pop();
    EXPECT_EQ(q.Front().code, 'd') << "the tail was reset by the push into the empty queue";
}

TEST(Queue, DuplicatesAreKept) {
    Queue q;
    for (int i = 0; i < 5; ++i)
        q.Push('2', '+');
    int n = 0;
    while (!q.IsEmpty()) {
        q.Pop();
        ++n;
    }
    EXPECT_EQ(n, 5);
}

TEST(Queue, ClearDropsEverything) {
    Queue q;
    for (int i = 0; i < 100; ++i)
        q.Push('x', '-');
    q.Clear();
    EXPECT_TRUE(q.IsEmpty());
}

// A burst of pushes on one thread while another pops: nothing lost, order kept. The queue
// empties and refills many times, which is where an unguarded push into a node being
// destroyed would lose requests.
TEST(Queue, BurstWhileAnotherThreadPops) {
    constexpr int kRequests = 200000;
    Queue q;
    std::atomic<bool> done{false};
    std::vector<int> seen;
    seen.reserve(kRequests);
    std::thread consumer([&] {
        for (;;) {
            if (q.IsEmpty()) {
                if (done)
                    break;
                std::this_thread::yield();
                continue;
            }
            const APCommandToSend r = q.Front();
            seen.push_back((static_cast<unsigned char>(r.code) << 8) |
                           static_cast<unsigned char>(r.argument));
            q.Pop();
        }
    });
    for (int i = 0; i < kRequests; ++i)
        q.Push(static_cast<char>(i >> 8), static_cast<char>(i));
    done = true;
    consumer.join();
    ASSERT_EQ(seen.size(), std::size_t(kRequests));
    for (int i = 0; i < kRequests; ++i)
        ASSERT_EQ(seen[std::size_t(i)], i & 0xFFFF) << i;
}

TEST(Queue, ClearFromOneThreadWhilePushingFromAnother) {
    Queue q;
    std::atomic<bool> stop{false};
    std::thread clearer([&] {
        while (!stop)
            q.Clear();
    });
    for (int i = 0; i < 100000; ++i)
        q.Push('c', '-');
    stop = true;
    clearer.join();
    q.Clear();
    EXPECT_TRUE(q.IsEmpty());
}

}  // namespace
}  // namespace morlen
