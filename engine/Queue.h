#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace morlen {

// One queued request: a command code and its argument, both single bytes.
struct APCommandToSend {
    char code;
    char argument;
    APCommandToSend* next;
    // A walk's target: the text Enter confirmed in the field that posted it. The poll thread
    // takes the request later; a walk without one, or whose field changed since, does not run.
    std::optional<std::string> target = std::nullopt;
};

// First-in, first-out requests from the window thread to the poll thread. Every operation is
// exclusive; the lock is held only for the operation itself, never while a request is carried
// out, so the window never waits on the UPS.
class Queue {
public:
    Queue() = default;
    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    void Push(char code, char argument, std::optional<std::string> target = std::nullopt);
    // The oldest request, copied; only meaningful when the queue is not empty.
    APCommandToSend Front() const;
    void Pop();
    void Clear();
    bool IsEmpty() const;

private:
    void PopLocked();

    mutable std::mutex mutex_;
    APCommandToSend* head_ = nullptr;
    APCommandToSend* tail_ = nullptr;
};

}  // namespace morlen
