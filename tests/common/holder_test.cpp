// The one holder, with a kind of handle whose closes are counted.
#include "common/holder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> Closed;
bool CloseSucceeds = true;

struct CountedTraits {
    using Type = int;
    static Type None() { return -1; }
    static bool Close(Type value) {
        Closed.push_back(value);
        return CloseSucceeds;
    }
};
using Counted = Holder<CountedTraits>;

class HolderTest : public testing::Test {
  protected:
    void SetUp() override {
        Closed.clear();
        CloseSucceeds = true;
    }
};

TEST_F(HolderTest, ReleaseHandsTheValueBackUnclosed) {
    {
        Counted holder(7);
        EXPECT_EQ(holder.release(), 7);
        EXPECT_FALSE(holder);
    }
    EXPECT_TRUE(Closed.empty());
}

TEST_F(HolderTest, CloseReportsWhetherTheCloseSucceededAndClosesOnce) {
    Counted failing(3);
    CloseSucceeds = false;
    EXPECT_FALSE(failing.close());
    EXPECT_FALSE(failing);
    CloseSucceeds = true;
    Counted empty;
    EXPECT_TRUE(empty.close()) << "nothing held, nothing to fail";
    EXPECT_EQ(Closed, std::vector<int>({3}));
}

TEST_F(HolderTest, ResetAndPutCloseWhatWasHeldFirst) {
    Counted holder(1);
    holder.reset(2);
    *holder.put() = 4;
    EXPECT_EQ(holder.get(), 4);
    EXPECT_EQ(Closed, std::vector<int>({1, 2}));
}

} // namespace
