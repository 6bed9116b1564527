#include "drives/cddaCMapStringToOb.h"

#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>

namespace discpilot {

cddaCMapStringToOb::cddaCMapStringToOb(std::size_t blockSize) noexcept
    : blockSize_(blockSize == 0 ? 1 : blockSize) {}

cddaCMapStringToOb::~cddaCMapStringToOb() {
    RemoveAll();
    for (void* block : blocks_) {
        std::free(block);
    }
}

cddaCMapStringToOb::Node* cddaCMapStringToOb::NewNode(const cddaCString& key, cddaCObject* value) {
    if (free_ == nullptr) {
        if (blockSize_ > std::numeric_limits<std::size_t>::max() / sizeof(Node)) {
            throw std::runtime_error(kMapMemoryException);
        }
        void* block = std::malloc(blockSize_ * sizeof(Node));
        if (block == nullptr) {
            throw std::runtime_error(kMapMemoryException);
        }
        try {
            blocks_.push_back(block);
        } catch (const std::bad_alloc&) {
            std::free(block);
            throw std::runtime_error(kMapMemoryException);
        }
        auto* nodes = static_cast<Node*>(block);
        for (std::size_t i = 0; i < blockSize_; ++i) {
            nodes[i].next = free_;
            free_ = &nodes[i];
        }
    }
    Node* node = free_;
    Node* const nextFree = node->next;
    // The key's copy may throw its own exception; the node then stays on the free list.
    new (&node->key) cddaCString(key);
    free_ = nextFree;
    node->value = value;
    node->previous = tail_;
    node->next = nullptr;
    return node;
}

void cddaCMapStringToOb::FreeNode(Node* node) noexcept {
    node->key.~cddaCString();
    node->next = free_;
    free_ = node;
}

cddaCMapStringToOb::Node* cddaCMapStringToOb::Find(const cddaCString& key) const noexcept {
    for (Node* node = head_; node != nullptr; node = node->next) {
        if (node->key == key) {
            return node;
        }
    }
    return nullptr;
}

void cddaCMapStringToOb::SetAt(const cddaCString& key, cddaCObject* value) {
    if (Node* node = Find(key)) {
        node->value = value;
        return;
    }
    Node* node = NewNode(key, value);
    if (tail_ != nullptr) {
        tail_->next = node;
    } else {
        head_ = node;
    }
    tail_ = node;
    ++count_;
}

bool cddaCMapStringToOb::Lookup(const cddaCString& key, cddaCObject*& value) const noexcept {
    if (const Node* node = Find(key)) {
        value = node->value;
        return true;
    }
    return false;
}

bool cddaCMapStringToOb::RemoveKey(const cddaCString& key) noexcept {
    Node* node = Find(key);
    if (node == nullptr) {
        return false;
    }
    (node->previous != nullptr ? node->previous->next : head_) = node->next;
    (node->next != nullptr ? node->next->previous : tail_) = node->previous;
    FreeNode(node);
    --count_;
    return true;
}

void cddaCMapStringToOb::RemoveAll() noexcept {
    while (head_ != nullptr) {
        Node* next = head_->next;
        FreeNode(head_);
        head_ = next;
    }
    tail_ = nullptr;
    count_ = 0;
}

std::vector<cddaCObject*> cddaCMapStringToOb::Values() const {
    std::vector<cddaCObject*> values;
    for (const Node* node = head_; node != nullptr; node = node->next) {
        values.push_back(node->value);
    }
    return values;
}

} // namespace discpilot
