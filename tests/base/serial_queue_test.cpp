#include "base/serial_queue.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace korvanel {
namespace {

using namespace std::chrono_literals;

struct Message {
    enum class Kind { Note, Block, Stop };
    Kind kind = Kind::Note;
    int poster = 0;
    int number = 0;
    std::shared_ptr<int> owned;  // tells, through a weak_ptr, when the message is gone
};

Message note(int poster, int number) {
    Message message;
    message.poster = poster;
    message.number = number;
    return message;
}

// A handler held up until the test lets it go.
class Gate {
public:
    void waitUntilEntered() { entered_.get_future().wait(); }
    void open() { release_.set_value(); }
    void enterAndWait() {
        entered_.set_value();
        release_.get_future().wait();
    }

private:
    std::promise<void> entered_;
    std::promise<void> release_;
};

TEST(SerialQueue, HandlesMessagesInPostingOrderOnOneWorkerThreadOfItsOwn) {
    std::vector<int> seen;
    std::vector<std::thread::id> threads;
    SerialQueue<Message> queue([&](Message& message) {
        seen.push_back(message.number);
        threads.push_back(std::this_thread::get_id());
    });
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(queue.post(note(0, i)));
    }
    queue.waitUntilIdle();
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(seen[i], i);
        EXPECT_EQ(threads[i], threads[0]);
    }
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_FALSE(queue.onWorkerThread());
}

TEST(SerialQueue, ManyPostersKeepTheirOwnOrderAndHandlersNeverOverlap) {
    constexpr int kPosters = 4;
    constexpr int kEach = 2000;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<int> lastSeen(kPosters, -1);
    bool outOfOrder = false;
    int handled = 0;
    SerialQueue<Message> queue([&](Message& message) {
        if (inside.fetch_add(1) != 0) {
            overlapped = true;
        }
        if (message.number != lastSeen[message.poster] + 1) {
            outOfOrder = true;
        }
        lastSeen[message.poster] = message.number;
        ++handled;
        inside.fetch_sub(1);
    });
    std::vector<std::thread> posters;
    for (int poster = 0; poster < kPosters; ++poster) {
        posters.emplace_back([&queue, poster] {
            for (int i = 0; i < kEach; ++i) {
                queue.post(note(poster, i));
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    queue.waitUntilIdle();
    EXPECT_EQ(handled, kPosters * kEach);
    EXPECT_FALSE(overlapped.load());
    EXPECT_FALSE(outOfOrder);
}

TEST(SerialQueue, MessagePostedFromAHandlerRunsAfterItReturnsAndWaitingThereDoesNotBlock) {
    std::vector<std::string> steps;
    SerialQueue<Message>* self = nullptr;
    SerialQueue<Message> queue([&](Message& message) {
        if (message.number == 1) {
            self->post(note(0, 2));
            self->waitUntilIdle();  // on the worker: returns at once
            EXPECT_TRUE(self->onWorkerThread());
            steps.push_back("first returns");
        } else {
            steps.push_back("second runs");
        }
    });
    self = &queue;
    queue.post(note(0, 1));
    queue.waitUntilIdle();
    queue.waitUntilIdle();  // the second was posted after the first wait began
    EXPECT_EQ(steps, (std::vector<std::string>{"first returns", "second runs"}));
}

TEST(SerialQueue, EachMessageIsDestroyedBeforeTheNextIsHandled) {
    std::weak_ptr<int> first;
    bool firstGoneInSecond = false;
    SerialQueue<Message> queue([&](Message& message) {
        if (message.number == 2) {
            firstGoneInSecond = first.expired();
        }
    });
    Message one = note(0, 1);
    one.owned = std::make_shared<int>(1);
    first = one.owned;
    queue.post(std::move(one));
    queue.post(note(0, 2));
    queue.waitUntilIdle();
    EXPECT_TRUE(firstGoneInSecond);
}

TEST(SerialQueue, StopWithRunHandlesWhatIsQueuedAndWhatThoseHandlersPostThenRefuses) {
    Gate gate;
    std::vector<int> seen;
    SerialQueue<Message>* self = nullptr;
    SerialQueue<Message> queue([&](Message& message) {
        if (message.kind == Message::Kind::Block) {
            gate.enterAndWait();
            return;
        }
        seen.push_back(message.number);
        if (message.number == 1) {
            self->post(note(0, 3));  // a follow-up while stopping still runs
        }
    });
    self = &queue;
    Message block;
    block.kind = Message::Kind::Block;
    queue.post(std::move(block));
    gate.waitUntilEntered();
    queue.post(note(0, 1));
    queue.post(note(0, 2));
    std::thread stopper([&] { queue.stop(SerialQueue<Message>::Pending::Run); });
    std::this_thread::sleep_for(20ms);
    gate.open();
    stopper.join();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));

    Message late = note(0, 4);
    late.owned = std::make_shared<int>(4);
    std::weak_ptr<int> lateOwned = late.owned;
    EXPECT_FALSE(queue.post(std::move(late)));
    EXPECT_TRUE(lateOwned.expired());
    queue.waitUntilIdle();  // an ended queue never holds a waiter
    EXPECT_EQ(seen.size(), 3u);
}

TEST(SerialQueue, StopWithDropWaitsForTheBusyHandlerAndDestroysQueuedMessagesUnhandled) {
    Gate gate;
    std::atomic<int> handled{0};
    std::atomic<bool> busyReturned{false};
    SerialQueue<Message> queue([&](Message& message) {
        if (message.kind == Message::Kind::Block) {
            gate.enterAndWait();
            busyReturned = true;
            return;
        }
        ++handled;
    });
    Message block;
    block.kind = Message::Kind::Block;
    queue.post(std::move(block));
    gate.waitUntilEntered();
    std::vector<std::weak_ptr<int>> owned;
    for (int i = 0; i < 5; ++i) {
        Message message = note(0, i);
        message.owned = std::make_shared<int>(i);
        owned.push_back(message.owned);
        queue.post(std::move(message));
    }
    EXPECT_EQ(queue.pendingCount(), 5u);
    EXPECT_FALSE(queue.waitUntilIdleFor(30ms)) << "the busy handler holds the queue";

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        queue.stop(SerialQueue<Message>::Pending::Drop);
        stopped = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(stopped.load());  // the busy handler has not returned yet
    for (const auto& message : owned) {
        EXPECT_TRUE(message.expired());  // dropped at once, not when the worker ends
    }
    EXPECT_FALSE(queue.post(note(0, 9)));
    gate.open();
    stopper.join();
    EXPECT_TRUE(busyReturned.load());
    EXPECT_EQ(handled.load(), 0);
    EXPECT_EQ(queue.pendingCount(), 0u);
    EXPECT_TRUE(queue.waitUntilIdleFor(30ms)) << "an ended queue has nothing to wait for";
}

TEST(SerialQueue, ClearPendingDropsTheQueuedButNotTheRunningMessageAndReleasesWaiters) {
    Gate gate;
    std::vector<int> seen;
    SerialQueue<Message> queue([&](Message& message) {
        if (message.kind == Message::Kind::Block) {
            gate.enterAndWait();
        }
        seen.push_back(message.number);
    });
    Message block = note(0, 0);
    block.kind = Message::Kind::Block;
    queue.post(std::move(block));
    gate.waitUntilEntered();
    queue.post(note(0, 1));
    queue.post(note(0, 2));
    queue.clearPending();
    EXPECT_EQ(queue.pendingCount(), 0u);
    gate.open();
    queue.waitUntilIdle();
    queue.post(note(0, 3));  // still taking messages afterwards
    queue.waitUntilIdle();
    EXPECT_EQ(seen, (std::vector<int>{0, 3}));
}

TEST(SerialQueue, DestructionDropsWhatIsQueuedAndStopFromAHandlerEndsTheWorkerAfterIt) {
    std::weak_ptr<int> owned;
    {
        Gate gate;
        auto queue = std::make_unique<SerialQueue<Message>>([&](Message& message) {
            if (message.kind == Message::Kind::Block) {
                gate.enterAndWait();
            }
        });
        Message block;
        block.kind = Message::Kind::Block;
        queue->post(std::move(block));
        gate.waitUntilEntered();
        Message queued;
        queued.owned = std::make_shared<int>(1);
        owned = queued.owned;
        queue->post(std::move(queued));
        gate.open();
        queue.reset();
    }
    // Either handled before the destructor took the lock or dropped: gone.
    EXPECT_TRUE(owned.expired());

    std::vector<int> seen;
    SerialQueue<Message>* self = nullptr;
    SerialQueue<Message> queue([&](Message& message) {
        seen.push_back(message.number);
        if (message.kind == Message::Kind::Stop) {
            self->stop(SerialQueue<Message>::Pending::Drop);
        }
    });
    self = &queue;
    Message stop = note(0, 1);
    stop.kind = Message::Kind::Stop;
    queue.post(std::move(stop));
    queue.waitUntilIdle();
    EXPECT_FALSE(queue.post(note(0, 2)));
    EXPECT_EQ(seen, std::vector<int>{1});
}

TEST(SerialQueue, PollRunsBeforeEachMessageAndOnTheIntervalOnlyWhileOneIsSet) {
    std::mutex lock;
    std::vector<std::string> steps;
    const auto add = [&](std::string step) {
        std::lock_guard guard(lock);
        steps.push_back(std::move(step));
    };
    const auto count = [&] {
        std::lock_guard guard(lock);
        return steps.size();
    };
    SerialQueue<Message> queue([&](Message& message) { add("message " + std::to_string(message.number)); },
                               [&] { add("poll"); });
    queue.post(note(0, 1));
    queue.waitUntilIdle();
    std::this_thread::sleep_for(50ms);
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(steps, (std::vector<std::string>{"poll", "message 1"}));  // no timed poll without an interval
    }
    queue.setPollInterval(5ms);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (count() < 5 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_GE(count(), 5u);  // polled with nothing posted
    queue.setPollInterval(0ms);
    std::this_thread::sleep_for(20ms);
    const std::size_t settled = count();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(count(), settled);
}

}  // namespace
}  // namespace korvanel
