// A map from cddaCString to object pointers, kept as a doubly linked list searched by string comparison
// (the drive table holds at most 26 letters). Nodes are allocated in blocks of blockSize; allocation
// failure throws std::runtime_error("MemoryException: cddaCMapStringToOb: cddaread"). The map does not
// own the objects it points to. Not thread-safe.
#pragma once

#include "drives/cddaCString.h"

#include <cstddef>
#include <vector>

namespace discpilot {

inline constexpr const char* kMapMemoryException = "MemoryException: cddaCMapStringToOb: cddaread";

class cddaCObject {
public:
    virtual ~cddaCObject() = default;
};

class cddaCMapStringToOb {
public:
    explicit cddaCMapStringToOb(std::size_t blockSize = 10) noexcept;
    ~cddaCMapStringToOb();
    cddaCMapStringToOb(const cddaCMapStringToOb&) = delete;
    cddaCMapStringToOb& operator=(const cddaCMapStringToOb&) = delete;

    // Adds or replaces the key's value. Throws on allocation failure (the map is then unchanged).
    void SetAt(const cddaCString& key, cddaCObject* value);
    // True with the value when the key is present.
    bool Lookup(const cddaCString& key, cddaCObject*& value) const noexcept;
    bool RemoveKey(const cddaCString& key) noexcept;
    void RemoveAll() noexcept;
    std::size_t GetCount() const noexcept { return count_; }
    // Values in insertion order.
    std::vector<cddaCObject*> Values() const;

private:
    struct Node {
        Node* previous;
        Node* next;
        cddaCString key;
        cddaCObject* value;
    };
    Node* NewNode(const cddaCString& key, cddaCObject* value);
    void FreeNode(Node* node) noexcept;
    Node* Find(const cddaCString& key) const noexcept;

    std::size_t blockSize_;
    std::vector<void*> blocks_; // raw storage for nodes, freed with the map
    Node* free_ = nullptr;      // unused node storage, linked through next
    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    std::size_t count_ = 0;
};

} // namespace discpilot
