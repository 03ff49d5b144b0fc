#include "Queue.h"

#include <utility>

namespace morlen {

Queue::~Queue() {
    Clear();
}

bool Queue::Push(char code, char argument, std::optional<std::string> target,
                 std::vector<RestoreTarget> restore) {
    auto* node =
        new APCommandToSend{code, argument, nullptr, std::move(target), std::move(restore)};
    std::lock_guard lock(mutex_);
    if (closed_) {
        delete node;
        return false;
    }
    if (head_ == nullptr) {
        head_ = node;
        tail_ = node;
    } else {
        tail_->next = node;
        tail_ = node;
    }
    return true;
}

APCommandToSend Queue::Front() const {
    std::lock_guard lock(mutex_);
    if (head_ == nullptr)
        return APCommandToSend{0, 0, nullptr};
    return APCommandToSend{head_->code, head_->argument, nullptr, head_->target, head_->restore};
}

void Queue::PopLocked() {
    if (head_ != nullptr) {
        APCommandToSend* next = head_->next;
        delete head_;
        head_ = next;
    } else {
        tail_ = nullptr;
    }
}

void Queue::Pop() {
    std::lock_guard lock(mutex_);
    PopLocked();
}

void Queue::Clear() {
    std::lock_guard lock(mutex_);
    while (head_ != nullptr)
        PopLocked();
}

void Queue::Open() {
    std::lock_guard lock(mutex_);
    closed_ = false;
}

void Queue::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    while (head_ != nullptr)
        PopLocked();
}

bool Queue::IsEmpty() const {
    std::lock_guard lock(mutex_);
    return head_ == nullptr;
}

}  // namespace morlen
