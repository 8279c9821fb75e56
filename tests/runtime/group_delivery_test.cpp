// Finished groups are handed on in group order, one at a time, and a group
// that finishes during a delivery never waits for it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "group_delivery.h"

namespace refhost {
namespace {

TEST(GroupDelivery, AGroupFinishedDuringADeliveryIsLeftToTheDeliveringThread) {
    std::vector<size_t> order;  // written by the delivering thread only
    std::promise<void> letGo;
    const std::shared_future<void> released = letGo.get_future().share();
    std::atomic<bool> delivering{false}, firstDone{false};
    GroupDelivery delivery([&](size_t item) {
        order.push_back(item);
        if (item == 10) delivering = true, released.wait_for(std::chrono::seconds(3));
    });
    std::thread first([&] { delivery.complete(0, 10), firstDone = true; });
    while (!delivering) std::this_thread::yield();
    delivery.complete(2, 12);  // not next
    delivery.skip(3);
    delivery.complete(1, 11);  // next, but group 0 is being delivered
    EXPECT_FALSE(firstDone) << "a finished group waited for the delivery before it";
    letGo.set_value();
    first.join();
    delivery.complete(5, 15);  // waits for group 4, which never comes
    delivery.completeUnordered(16);
    EXPECT_EQ(order, (std::vector<size_t>{10, 11, 12}));
    delivery.finish();
    EXPECT_EQ(order, (std::vector<size_t>{10, 11, 12, 15, 16}));
}

}  // namespace
}  // namespace refhost
