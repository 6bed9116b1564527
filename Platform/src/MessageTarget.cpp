#include "Platform/MessageTarget.h"

#include <chrono>
#include <exception>
#include <string>
#include <unordered_map>

namespace platform {

bool MessageQueue::post(UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        std::lock_guard lock(mutex_);
        queue_.push_back(Message{msg, wParam, lParam});
    } catch (const std::exception&) {
        // Out of memory: the message is not queued, which is exactly what false reports.
        return false;
    }
    cv_.notify_one();
    return true;
}

Message MessageQueue::Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return !queue_.empty(); });
    Message message = queue_.front();
    queue_.pop_front();
    return message;
}

std::optional<Message> MessageQueue::TryGet() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    Message message = queue_.front();
    queue_.pop_front();
    return message;
}

std::optional<Message> MessageQueue::WaitFor(unsigned timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !queue_.empty(); })) {
        return std::nullopt;
    }
    Message message = queue_.front();
    queue_.pop_front();
    return message;
}

std::size_t MessageQueue::Size() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

MessageRing::MessageRing(std::size_t capacity) : capacity_(capacity), slots_(new Message[capacity]) {}

bool MessageRing::post(UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(mutex_);
    if (size_ == capacity_) {
        return false;
    }
    slots_[(head_ + size_) % capacity_] = Message{msg, wParam, lParam};
    ++size_;
    return true;
}

std::optional<Message> MessageRing::TryGet() {
    std::lock_guard lock(mutex_);
    if (size_ == 0) {
        return std::nullopt;
    }
    const Message message = slots_[head_];
    head_ = (head_ + 1) % capacity_;
    --size_;
    return message;
}

std::vector<Message> MessageRing::Take(UINT msg) {
    std::vector<Message> taken;
    std::lock_guard lock(mutex_);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < size_; ++i) {
        const Message message = slots_[(head_ + i) % capacity_];
        if (message.msg == msg) {
            taken.push_back(message);
        } else {
            slots_[(head_ + kept++) % capacity_] = message;
        }
    }
    size_ = kept;
    return taken;
}

std::size_t MessageRing::Size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

namespace {

constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kLastRegisteredMessage = 0xFFFF;

// Names fold to lower case for comparison; other bytes (including UTF-8 sequences) compare exactly.
std::string FoldAsciiCase(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

struct MessageNameTable {
    std::mutex mutex;
    std::unordered_map<std::string, UINT> ids;
    UINT next = kFirstRegisteredMessage;
};

MessageNameTable& Names() {
    static MessageNameTable table;
    return table;
}

} // namespace

UINT RegisterMessageName(std::string_view name) {
    if (name.empty()) {
        return 0;
    }
    try {
        std::string key = FoldAsciiCase(name);
        MessageNameTable& table = Names();
        std::lock_guard lock(table.mutex);
        if (auto found = table.ids.find(key); found != table.ids.end()) {
            return found->second;
        }
        if (table.next > kLastRegisteredMessage) {
            return 0;
        }
        const UINT id = table.next;
        table.ids.emplace(std::move(key), id);
        ++table.next;
        return id;
    } catch (const std::exception&) {
        return 0;
    }
}

} // namespace platform
