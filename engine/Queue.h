#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace morlen {

// One setting a restore puts back: its index among the stored settings, the request of the
// button whose step operation it uses, the value to reach, and the values the unit lists for
// that setting (none: the form of its replies decides what is a value).
struct RestoreTarget {
    int index;
    char code;
    std::string value;
    std::vector<std::string> offered;
};

// One queued request: a command code and its argument, both single bytes.
struct APCommandToSend {
    char code;
    char argument;
    APCommandToSend* next;
    // A walk's target: the text Enter confirmed in the field that posted it. The poll thread
    // takes the request later; a walk without one, or whose field changed since, does not run.
    std::optional<std::string> target = std::nullopt;
    // A restore's settings. They travel with the request, so whatever drops the request drops
    // them too: no plan is left behind for another connection.
    std::vector<RestoreTarget> restore = {};
};

// First-in, first-out requests from the window thread to the poll thread. Every operation is
// exclusive; the lock is held only for the operation itself, never while a request is carried
// out, so the window never waits on the UPS.
//
// Requests belong to a connection: Close() drops what is queued and refuses every request
// pushed until Open(), so nothing confirmed while a link is being lost runs on whatever unit
// the next connection finds.
class Queue {
public:
    Queue() = default;
    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    // False, and nothing queued, while the queue is closed.
    bool Push(char code, char argument, std::optional<std::string> target = std::nullopt,
              std::vector<RestoreTarget> restore = {});
    // The oldest request, copied; only meaningful when the queue is not empty.
    APCommandToSend Front() const;
    void Pop();
    void Clear();
    bool IsEmpty() const;
    void Open();
    void Close();

private:
    void PopLocked();

    mutable std::mutex mutex_;
    APCommandToSend* head_ = nullptr;
    APCommandToSend* tail_ = nullptr;
    bool closed_ = false;
};

}  // namespace morlen
