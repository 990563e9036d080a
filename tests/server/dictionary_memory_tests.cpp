// The resource dictionary when memory runs out part-way through a load (the heap of
// support/failing_heap.cpp): nothing of that load is added, what was there stays, the
// names gathered so far are freed, and a later load with memory adds everything.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "dictionary_record.h"
#include "server/file_dictionary.h"
#include "support/failing_heap.h"

namespace {

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

// Names of 12 bytes: each record costs the dictionary one allocation.
std::string Name(int i) {
    char name[16];
    snprintf(name, sizeof name, "res/%04d.swf", i);
    return name;
}

const int kRecords = 1000;

class DictionaryMemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        FileDictionaryClear();
        records_ = DictionaryRecord("a.swf", 1);
        for (int i = 0; i < kRecords; ++i) records_ += DictionaryRecord(Name(i), static_cast<uint32_t>(i));
    }
    void TearDown() override { FileDictionaryClear(); }

    // Where record `index` of records_ begins (its size when index is one past the last).
    size_t OffsetOfRecord(size_t index) const {
        if (index == 0) return 0;
        return DictionaryRecord("a.swf", 1).size() + (index - 1) * DictionaryRecord(Name(0), 0).size();
    }

    // "a.swf", then kRecords names of their own.
    std::string records_;
};

TEST_F(DictionaryMemoryTest, ALoadThatRunsOutOfMemoryAddsNothing) {
    struct Case {
        const char* what;
        bool earlierLoad;
        size_t allowed;  // allocations that succeed before memory runs out
    } cases[] = {
        {"at the first record", true, 0},
        {"half-way", true, kRecords / 2},
        {"at the last record", true, kRecords},
        {"at the first load, for the dictionary itself", false, kRecords + 1},
    };
    const std::string earlier = DictionaryRecord("a.swf", 7) + DictionaryRecord("b.swf", 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileDictionaryClear();
        if (c.earlierLoad) ASSERT_EQ(FileDictionaryAddRecords(Bytes(earlier), earlier.size()), 2u);
        const size_t before = FileDictionarySize();
        DictionaryReadEnd end;
        size_t records;
        {
            testing_support::FailingAllocations failing(c.allowed, 0);
            records = FileDictionaryAddRecords(Bytes(records_), records_.size(), &end);
        }
        EXPECT_EQ(records, 0u);
        EXPECT_EQ(end.reason, kDictionaryOutOfMemory);
        EXPECT_EQ(end.offset, OffsetOfRecord(c.allowed));
        EXPECT_EQ(FileDictionarySize(), before);
        EXPECT_FALSE(FileDictionaryContains(Name(0).c_str()));
        EXPECT_EQ(FileDictionaryLookup("a.swf"), c.earlierLoad ? 7u : 0u);

        // With memory the same bytes load whole; the earlier record of a name still wins.
        EXPECT_EQ(FileDictionaryAddRecords(Bytes(records_), records_.size(), &end), kRecords + 1u);
        EXPECT_EQ(end.reason, kDictionaryReadComplete);
        EXPECT_EQ(FileDictionarySize(), before + kRecords + (c.earlierLoad ? 0u : 1u));
        EXPECT_EQ(FileDictionaryLookup("a.swf"), c.earlierLoad ? 7u : 1u);
        EXPECT_EQ(FileDictionaryLookup(Name(kRecords - 1).c_str()), kRecords - 1u);
    }
}

}  // namespace

// The data thread looks names up with no memory to spare: a lookup allocates nothing,
// whatever the length of the name (a short one would fit in a string's own buffer).
TEST_F(DictionaryMemoryTest, NamesAreLookedUpWithoutMemory) {
    ASSERT_EQ(FileDictionaryAddRecords(Bytes(records_), records_.size()), kRecords + 1u);
    const std::string longName = "res/" + std::string(100, 'x') + ".swf";
    testing_support::FailingAllocations failing(0, 0);
    EXPECT_EQ(FileDictionaryLookup(Name(kRecords - 1).c_str()), kRecords - 1u);
    EXPECT_TRUE(FileDictionaryContains("a.swf"));
    EXPECT_EQ(FileDictionaryLookup(longName.c_str()), 0u);
    EXPECT_FALSE(FileDictionaryContains(longName.c_str()));
}
