// The one grow-and-retry read of platform texts, against a scripted call.
#include "common/growing_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// A call that behaves as the platform's text queries do, for `value`, and
// records the capacity of every call.
struct ScriptedRead {
    explicit ScriptedRead(std::wstring text, bool failing = false)
        : value(std::move(text)), fails(failing) {}

    std::wstring value;
    bool fails;
    std::vector<DWORD> capacities;

    DWORD operator()(wchar_t* buffer, DWORD capacity) {
        capacities.push_back(capacity);
        if (fails)
            return 0;
        const DWORD length = static_cast<DWORD>(value.size());
        if (length >= capacity)
            return length + 1; // the size needed, terminator included
        std::copy_n(value.c_str(), length + 1, buffer);
        return length;
    }
};

TEST(ReadGrowingText, ReadsTextsShorterThanMaxPathInOneCall) {
    ScriptedRead read(std::wstring(MAX_PATH - 1, L'a'));
    std::wstring text;
    ASSERT_TRUE(ReadGrowingText(std::ref(read), text));
    EXPECT_EQ(text.size(), std::size_t(MAX_PATH - 1));
    EXPECT_EQ(read.capacities.size(), 1u);
}

TEST(ReadGrowingText, ReadsLongerTextsWholeWithABufferOfTheSizeAskedFor) {
    for (std::size_t length : {std::size_t(MAX_PATH), std::size_t(5000), std::size_t(32767)}) {
        SCOPED_TRACE(length);
        ScriptedRead read(std::wstring(length, L'b'));
        std::wstring text;
        ASSERT_TRUE(ReadGrowingText(std::ref(read), text));
        EXPECT_TRUE(text == read.value) << text.size();
        ASSERT_EQ(read.capacities.size(), 2u);
        EXPECT_EQ(read.capacities[1], DWORD(length + 1));
    }
}

TEST(ReadGrowingText, FailsWithoutTouchingTheTextWhenTheCallFailsOrAsksTooMuch) {
    ScriptedRead failing(L"x", true);
    ScriptedRead tooLong(std::wstring(MaximumGrowingTextCapacity, L'c'));
    for (ScriptedRead* read : {&failing, &tooLong}) {
        std::wstring text = L"untouched";
        EXPECT_FALSE(ReadGrowingText(std::ref(*read), text));
        EXPECT_TRUE(text == L"untouched");
    }
    EXPECT_EQ(tooLong.capacities.size(), 1u) << "no buffer beyond the limit is allocated";
}

} // namespace
