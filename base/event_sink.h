#pragma once

#include <atomic>

#include "base/window_event.h"

namespace korvanel {

// Where components report what happened: the main window's event queue.
class EventSink {
public:
    virtual ~EventSink() = default;
    // Queues an event; callable from any thread.
    virtual void post(WindowEvent event) = 0;
    // Whether a posted event would reach anyone now; work done only to be
    // reported can be skipped when not.
    virtual bool isListening() const { return true; }
};

// Forwards to a sink that comes and goes: components are made before the
// window they report to, and outlive it at shutdown. Events posted while no
// sink is set are dropped.
class EventRelay final : public EventSink {
public:
    void setTarget(EventSink* target) { target_.store(target); }
    void post(WindowEvent event) override {
        if (EventSink* target = target_.load()) {
            target->post(std::move(event));
        }
    }
    bool isListening() const override { return target_.load() != nullptr; }

private:
    std::atomic<EventSink*> target_{nullptr};
};

}  // namespace korvanel
