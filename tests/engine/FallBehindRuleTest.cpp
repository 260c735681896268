#include <gtest/gtest.h>

#include <string>

#include "engine/FallBehindRule.h"

// Ticks at which the encoder was behind ('B') or not ('.'), and the tick at which the rule trips
// (-1: never): two thirds of a three-second window, however the behind ticks are spread in it.
TEST(FallBehindRuleTest, TripsOnTwentyOfTheLastThirtyTicksAndStaysTripped)
{
    const auto repeat = [](const std::string& part, int times) {
        std::string all;
        while (times-- > 0)
            all += part;
        return all;
    };
    const std::pair<std::string, int> cases[] = {
        {repeat(".", 30) + repeat("B", 25), 49},                    // behind from a tick on: 20 ticks later
        {repeat("B.", 50), -1},                                     // half the ticks: keeps up in the end
        {repeat("BB.", 20), 28},                                    // two in three: the 20th of them
        {repeat("B", 15) + repeat(".", 100) + repeat("B", 15), -1}, // two stalls far apart
        {repeat("B", 19) + "." + "B", 20},                          // one tick of relief does not reset
        {repeat("B", 10) + repeat(".", 15) + repeat("B", 10) + repeat(".", 5), -1},  // the first ten slid out
        {repeat("B", 10) + repeat(".", 10) + repeat("B", 10), 29},  // all twenty inside the window
        {repeat(".", 29) + repeat("B", 19) + ".", -1},              // one short
    };
    for (const auto& [ticks, expected] : cases) {
        SCOPED_TRACE(ticks);
        CFallBehindRule rule;
        int tripped = -1;
        for (int i = 0; i < static_cast<int>(ticks.size()); ++i)
            if (rule.Note(ticks[static_cast<std::size_t>(i)] == 'B') && tripped < 0)
                tripped = i;
        EXPECT_EQ(tripped, expected);
        EXPECT_EQ(rule.FallenBehind(), expected >= 0);
    }
    CFallBehindRule rule;
    for (int i = 0; i < CFallBehindRule::kBehind; ++i)
        (void)rule.Note(true);
    for (int i = 0; i < 3 * CFallBehindRule::kWindow; ++i)
        EXPECT_TRUE(rule.Note(false)) << "no flapping back once the encoder keeps up again";
    rule.Reset();
    EXPECT_FALSE(rule.Note(true)) << "a new session starts afresh";
}
