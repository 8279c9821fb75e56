// Fault rules: the nth call of an operation from now on is refused, `times`
// calls in a row. The fault matrix relies on this counting; that refusals
// take effect through the host records, and that locks work and are counted,
// it shows on every run.
#include <gtest/gtest.h>

#include "refhost/faults.h"

namespace refhost {
namespace {

TEST(Faults, RefusesTheNthCallFromNowForTimesCalls) {
    struct Case {
        uint64_t before, nth, times;
        int err;                    // written to the error slot only when not 0
        std::vector<bool> refused;  // calls after the rule was set
    };
    const Case cases[] = {
        {0, 1, 1, 0, {true, false, false}},
        {0, 2, 1, 280013, {false, true, false}},
        {3, 2, 2, 0, {false, true, true, false}},  // counted from the rule, not from the start
        {0, 1, 3, 42, {true, true, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "before " << c.before << " nth " << c.nth);
        Faults faults;
        cf_status status = 0;
        for (uint64_t i = 0; i < c.before; ++i) ASSERT_FALSE(faults.check("lock", nullptr, &status));
        faults.refuse("lock", c.nth, 7, c.err, c.times);
        for (size_t i = 0; i < c.refused.size(); ++i) {
            int err = 5;
            status = 0;
            EXPECT_FALSE(faults.check("unlock", &err, &status));  // only the named operation
            EXPECT_EQ(c.refused[i], faults.check("lock", &err, &status)) << "call " << i;
            EXPECT_EQ(c.refused[i] ? 7u : 0u, status);
            EXPECT_EQ(c.refused[i] && c.err ? c.err : 5, err);
        }
        EXPECT_EQ(c.before + c.refused.size(), faults.calls("lock"));
        faults.refuse("lock", 1, 1);
        faults.clear();
        EXPECT_FALSE(faults.check("lock", nullptr, &status));
    }
}

}  // namespace
}  // namespace refhost
