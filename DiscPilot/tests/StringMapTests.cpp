// The library's string and map classes: contents, order, replacement and removal, and the exception each
// throws when memory runs out.
#include "drives/cddaCMapStringToOb.h"
#include "drives/cddaCString.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

// Under the address sanitizer an impossible allocation must come back as null, as it does without it.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace discpilot {
namespace {

TEST(cddaCStringTest, HoldsCopiesAndUpperCases) {
    cddaCString a("drive d");
    cddaCString b(a);
    b.MakeUpper();
    EXPECT_EQ(a.View(), "drive d");
    EXPECT_EQ(b.View(), "DRIVE D");
    EXPECT_FALSE(a == b);
    a = b;
    EXPECT_TRUE(a == b);
    const cddaCString& alias = a;
    a = alias;
    EXPECT_EQ(a.View(), "DRIVE D");
    EXPECT_STREQ(cddaCString().c_str(), "");
}

TEST(cddaCStringTest, BufferGrowsKeepingItsText) {
    cddaCString s("ab");
    char* buffer = s.GetBuffer(10);
    EXPECT_STREQ(buffer, "ab");
    buffer[2] = 'c';
    s.ReleaseBuffer();
    EXPECT_EQ(s.View(), "abc");
    EXPECT_EQ(s.GetLength(), 3u);
}

TEST(cddaCStringTest, AllocationFailureThrowsItsMessageAndKeepsTheString) {
    cddaCString s("keep");
    for (const std::size_t length :
         {std::numeric_limits<std::size_t>::max(), std::numeric_limits<std::size_t>::max() / 2}) {
        try {
            s.GetBuffer(length);
            FAIL() << "no exception for " << length;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "MemoryException: cddaCString: cddaread");
        }
    }
    EXPECT_EQ(s.View(), "keep");
}

struct Value : cddaCObject {
    explicit Value(int v) : value(v) {}
    int value;
};

int ValueOf(const cddaCMapStringToOb& map, const char* key) {
    cddaCObject* found = nullptr;
    return map.Lookup(cddaCString(key), found) ? static_cast<Value*>(found)->value : -1;
}

TEST(cddaCMapStringToObTest, LooksUpReplacesAndRemovesAcrossNodeBlocks) {
    cddaCMapStringToOb map(2); // small blocks: several allocations
    Value values[5] = {Value(0), Value(1), Value(2), Value(3), Value(4)};
    const char* keys[5] = {"D", "E", "F", "G", "H"};
    for (int i = 0; i < 5; ++i) {
        map.SetAt(cddaCString(keys[i]), &values[i]);
    }
    EXPECT_EQ(map.GetCount(), 5u);
    EXPECT_EQ(ValueOf(map, "F"), 2);
    EXPECT_EQ(ValueOf(map, "f"), -1); // keys compare exactly; the table upper-cases its letters
    Value replaced(9);
    map.SetAt(cddaCString("F"), &replaced);
    EXPECT_EQ(map.GetCount(), 5u);
    EXPECT_EQ(ValueOf(map, "F"), 9);

    EXPECT_TRUE(map.RemoveKey(cddaCString("D")));
    EXPECT_TRUE(map.RemoveKey(cddaCString("H")));
    EXPECT_TRUE(map.RemoveKey(cddaCString("F")));
    EXPECT_FALSE(map.RemoveKey(cddaCString("F")));
    EXPECT_EQ(map.GetCount(), 2u);
    const auto left = map.Values();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(static_cast<Value*>(left[0])->value, 1);
    EXPECT_EQ(static_cast<Value*>(left[1])->value, 3);

    // Freed nodes are used again, in insertion order at the end.
    map.SetAt(cddaCString("Z"), &values[4]);
    EXPECT_EQ(static_cast<Value*>(map.Values().back())->value, 4);
    map.RemoveAll();
    EXPECT_EQ(map.GetCount(), 0u);
    EXPECT_EQ(ValueOf(map, "E"), -1);
}

TEST(cddaCMapStringToObTest, AllocationFailureThrowsItsMessageAndLeavesTheMapUsable) {
    for (const std::size_t blockSize :
         {std::numeric_limits<std::size_t>::max(), std::numeric_limits<std::size_t>::max() / 64}) {
        cddaCMapStringToOb map(blockSize);
        Value value(1);
        try {
            map.SetAt(cddaCString("D"), &value);
            FAIL() << "no exception for blocks of " << blockSize;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "MemoryException: cddaCMapStringToOb: cddaread");
        }
        EXPECT_EQ(map.GetCount(), 0u);
        EXPECT_EQ(ValueOf(map, "D"), -1);
    }
}

} // namespace
} // namespace discpilot
