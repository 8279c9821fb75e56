// The hand-over of the groups' split-model parts between the thread that
// reads them and the one that writes the split model.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "split_model_file.h"

namespace splitrun {
namespace {

// Adds `count` parts named "g0", "g1", ... with one key each, then finishes.
void produce(SegmentFeed& feed, int count)
{
    for (int i = 0; i < count; ++i) {
        SegmentFeed::Part& part = feed.part();
        part.pmml = "g" + std::to_string(i);
        part.keys.assign(1, SplitKey{});
        part.levels.clear();
        feed.add();
    }
    feed.finish();
}

TEST(SegmentFeed, HandsOverEveryPartInOrderAcrossBatches)
{
    // Fewer than one batch, one batch exactly, and enough batches that the
    // producer waits for room and fills recycled parts.
    for (const int count : {0, 1, 64, 65, 1000}) {
        SegmentFeed feed;
        std::thread producer(produce, std::ref(feed), count);
        std::vector<std::string> seen;
        while (const SegmentFeed::Part* part = feed.next()) {
            seen.push_back(part->pmml);
            EXPECT_EQ(part->keys.size(), 1u);
        }
        producer.join();
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], "g" + std::to_string(i));
    }
}

TEST(SegmentFeed, AConsumerThatStopsNeverLeavesTheProducerWaiting)
{
    // The split model's writer failed after a few groups: the producer has
    // many batches more than the feed holds, and must still get through.
    SegmentFeed feed;
    std::thread producer(produce, std::ref(feed), 5000);
    for (int i = 0; i < 10; ++i) ASSERT_NE(feed.next(), nullptr);
    feed.stop();
    producer.join();
}

}  // namespace
}  // namespace splitrun
