#include <gtest/gtest.h>

#include <sys/resource.h>

#include <string>
#include <vector>

#include "ift.h"
#include "pxImage/detail.h"

namespace {

// A queue for one test, released at scope end.
struct Queue {
    QueueBuckets Q;
    QueueElements A;
    Queue(int nbuckets, int nelems) { initQueue(&Q, nbuckets, &A, nelems); }
    ~Queue() { releaseQueue(&Q, &A); }
    void insert(int b, int e) { insertQueue(&Q, &A, b, e); }
    // Every element in serving order: isEmpty, then removeQueue at the cursor.
    std::vector<int> drain()
    {
        std::vector<int> out;
        while (!isEmpty(&Q)) out.push_back(removeQueue(&Q, &A, Q.current));
        return out;
    }
    int state(int e) const { return A.bucketOf[e]; }
};

} // namespace

TEST(BucketQueue, StartsEmptyWithEveryElementAbsent)
{
    Queue q(4, 3);
    EXPECT_EQ(q.Q.nbuckets, 4);
    EXPECT_EQ(q.A.nelems, 3);
    EXPECT_EQ(isEmpty(&q.Q), 1);
    EXPECT_EQ(q.Q.current, 0);
    for (int e = 0; e < 3; ++e) EXPECT_EQ(q.state(e), QUEUE_ABSENT);
}

TEST(BucketQueue, BucketsAreFirstInFirstOutAndServedInBucketOrder)
{
    Queue q(5, 6);
    q.insert(3, 4);
    q.insert(1, 0);
    q.insert(3, 2);
    q.insert(1, 5);
    EXPECT_EQ(q.state(4), 3);
    EXPECT_EQ(q.drain(), (std::vector<int>{0, 5, 4, 2}));
    for (int e : {0, 2, 4, 5}) EXPECT_EQ(q.state(e), QUEUE_DONE);
    EXPECT_EQ(q.state(1), QUEUE_ABSENT);
}

TEST(BucketQueue, SingleBucketIsAPlainFifo)
{
    Queue q(1, 4);
    for (int e : {2, 0, 3, 1}) q.insert(0, e);
    EXPECT_EQ(q.drain(), (std::vector<int>{2, 0, 3, 1}));
    EXPECT_EQ(isEmpty(&q.Q), 1);
}

TEST(BucketQueue, UpdateToTheSameBucketMovesBehindLaterInsertions)
{
    Queue q(3, 4);
    q.insert(1, 0);
    q.insert(1, 1);
    q.insert(1, 2);
    updateQueue(&q.Q, &q.A, 1, 0);
    EXPECT_EQ(q.drain(), (std::vector<int>{1, 2, 0}));
}

TEST(BucketQueue, UpdateMovesFromTheMiddleAndKeepsBothChainsSound)
{
    Queue q(4, 5);
    for (int e = 0; e < 4; ++e) q.insert(2, e);
    q.insert(3, 4);
    updateQueue(&q.Q, &q.A, 3, 1);  // middle of bucket 2 to the tail of bucket 3
    updateQueue(&q.Q, &q.A, 3, 3);  // tail of bucket 2
    updateQueue(&q.Q, &q.A, 2, 0);  // head of bucket 2 to its own tail
    EXPECT_EQ(q.state(1), 3);
    EXPECT_EQ(q.drain(), (std::vector<int>{2, 0, 4, 1, 3}));
}

TEST(BucketQueue, UpdateOfAnAbsentOrDoneElementDoesNothing)
{
    Queue q(4, 3);
    q.insert(2, 0);
    EXPECT_EQ(removeQueue(&q.Q, &q.A, 2), 0);
    updateQueue(&q.Q, &q.A, 1, 0);            // done
    updateQueue(&q.Q, &q.A, 1, 1);            // absent
    updateQueueUpdateCurr(&q.Q, &q.A, 0, 2);  // absent: cursor stays too
    EXPECT_EQ(q.state(0), QUEUE_DONE);
    EXPECT_EQ(q.state(1), QUEUE_ABSENT);
    EXPECT_EQ(q.state(2), QUEUE_ABSENT);
    EXPECT_EQ(isEmpty(&q.Q), 1);
    removeQueueElem(&q.Q, &q.A, 0);
    EXPECT_EQ(q.state(0), QUEUE_DONE);
}

TEST(BucketQueue, RemoveQueueOnAnEmptyBucketReturnsNoneAndChangesNothing)
{
    Queue q(3, 2);
    q.insert(2, 1);
    EXPECT_EQ(removeQueue(&q.Q, &q.A, 0), -1);
    EXPECT_EQ(q.state(0), QUEUE_ABSENT);
    EXPECT_EQ(q.state(1), 2);
    EXPECT_EQ(q.Q.first[0], -1);
    EXPECT_EQ(q.Q.current, 0);
    EXPECT_EQ(q.drain(), (std::vector<int>{1}));
}

TEST(BucketQueue, RemovingTheOnlyElementEmptiesItsBucketForReuse)
{
    Queue q(3, 2);
    q.insert(1, 0);
    removeQueueElem(&q.Q, &q.A, 0);
    EXPECT_EQ(q.Q.first[1], -1);
    EXPECT_EQ(q.Q.last[1], -1);
    EXPECT_EQ(q.state(0), QUEUE_ABSENT);
    EXPECT_EQ(isEmpty(&q.Q), 1);
    q.insert(1, 0);
    q.insert(1, 1);
    EXPECT_EQ(q.Q.first[1], 0);
    EXPECT_EQ(q.Q.last[1], 1);
    removeQueueElem(&q.Q, &q.A, 1);  // the tail
    EXPECT_EQ(q.Q.last[1], 0);
    EXPECT_EQ(q.drain(), (std::vector<int>{0}));
}

TEST(BucketQueue, PlainInsertBelowTheCursorWaitsForTheWrapAround)
{
    Queue q(8, 6);
    q.insert(5, 0);
    q.insert(2, 1);
    EXPECT_EQ(isEmpty(&q.Q), 0);
    EXPECT_EQ(q.Q.current, 2);
    q.insert(1, 2);
    q.insert(7, 3);
    EXPECT_EQ(q.Q.current, 2);
    EXPECT_EQ(q.drain(), (std::vector<int>{1, 0, 3, 2}));
    EXPECT_EQ(q.Q.current, 1);  // a full circle found nothing: back at its start
}

TEST(BucketQueue, InsertUpdateCurrBelowTheCursorIsServedNext)
{
    Queue q(8, 6);
    q.insert(5, 0);
    q.insert(2, 1);
    EXPECT_EQ(isEmpty(&q.Q), 0);
    insertQueueUpdateCurr(&q.Q, &q.A, 1, 2);
    EXPECT_EQ(q.Q.current, 1);
    insertQueueUpdateCurr(&q.Q, &q.A, 4, 3);  // above the cursor: it stays
    EXPECT_EQ(q.Q.current, 1);
    EXPECT_EQ(q.drain(), (std::vector<int>{2, 1, 3, 0}));
}

TEST(BucketQueue, UpdateBelowTheCursorMovesItOnlyWithUpdateCurr)
{
    Queue q(8, 4);
    q.insert(3, 0);
    q.insert(6, 1);
    q.insert(6, 2);
    EXPECT_EQ(isEmpty(&q.Q), 0);
    EXPECT_EQ(q.Q.current, 3);
    updateQueue(&q.Q, &q.A, 1, 1);
    EXPECT_EQ(q.Q.current, 3);
    updateQueueUpdateCurr(&q.Q, &q.A, 2, 2);
    EXPECT_EQ(q.Q.current, 2);
    EXPECT_EQ(q.drain(), (std::vector<int>{2, 0, 1}));
}

TEST(BucketQueue, ResetEmptiesAndReleaseZeroesTheCounts)
{
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, 4, &A, 3);
    insertQueue(&Q, &A, 3, 0);
    insertQueue(&Q, &A, 1, 2);
    EXPECT_EQ(isEmpty(&Q), 0);
    EXPECT_EQ(removeQueue(&Q, &A, Q.current), 2);
    resetQueue(&Q, &A);
    EXPECT_EQ(Q.current, 0);
    for (int e = 0; e < 3; ++e) EXPECT_EQ(A.bucketOf[e], QUEUE_ABSENT);
    EXPECT_EQ(isEmpty(&Q), 1);
    insertQueue(&Q, &A, 0, 1);
    EXPECT_EQ(isEmpty(&Q), 0);
    releaseQueue(&Q, &A);
    EXPECT_EQ(Q.nbuckets, 0);
    EXPECT_EQ(Q.current, 0);
    EXPECT_EQ(A.nelems, 0);
}

TEST(BucketQueue, BucketCountBelowOneStillGivesOneBucket)
{
    Queue q(0, 2);
    EXPECT_EQ(q.Q.nbuckets, 1);
    EXPECT_EQ(isEmpty(&q.Q), 1);
    q.insert(0, 1);
    EXPECT_EQ(q.drain(), (std::vector<int>{1}));
}

#if defined(__SANITIZE_ADDRESS__)
#define PX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PX_ADDRESS_SANITIZER 1
#endif
#endif

#ifndef PX_ADDRESS_SANITIZER
// Run in a child with a small address-space limit, so the allocation fails.
TEST(BucketQueueDeathTest, AllocationFailureEndsTheProgramWithItsMessage)
{
    auto limited = [](int nbuckets, int nelems) {
        struct rlimit rl = {256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &rl);
        QueueBuckets Q;
        QueueElements A;
        initQueue(&Q, nbuckets, &A, nelems);
        std::exit(0);
    };
    EXPECT_EXIT(limited(1 << 30, 4), ::testing::ExitedWithCode(1),
                "^Could not allocate queue \\(Q\\) in initQueue\n$");
    EXPECT_EXIT(limited(4, 1 << 30), ::testing::ExitedWithCode(1),
                "^Could not allocate queue \\(A\\) in initQueue\n$");
}
#endif

// A bucket count that would take more than a quarter of the machine's memory
// is refused (PX_FATAL_MEMORY) before anything is allocated.
TEST(BucketQueue, HugeBucketCountsAreRefusedBeforeAllocating)
{
    for (int huge : {1000000000, 2147483647}) {
        if (px::sensibleMemory(2.0 * huge * sizeof(int))) continue;  // a machine that can hold it
        char message[256];
        int kind = pxCatchFatal(
            [](void *arg) {
                Queue q(*static_cast<int *>(arg), 4);
            },
            &huge, message, sizeof message);
        EXPECT_EQ(kind, PX_FATAL_MEMORY) << huge;
        EXPECT_NE(std::string(message).find("initQueue"), std::string::npos) << message;
    }
}
