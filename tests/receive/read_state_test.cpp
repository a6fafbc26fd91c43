// The read state file: what it keeps reads back, and a damaged or foreign
// line costs only itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "receive/read_state.h"

namespace {

using vindrel::spool::ParseReadMarks;

TEST(ReadMarks, SoundLinesReadBackAndTheRestArePassedOver)
{
    const std::string a = "1700000000000-1-0000abcd.msg", b = "1700000000001-2-ffff0000.msg";
    const auto kept = ParseReadMarks(vindrel::spool::FormatReadMarks({{a}, {b}, 7}));
    EXPECT_EQ(kept.read, std::vector<std::string>{a});
    EXPECT_EQ(kept.deleted, std::vector<std::string>{b});
    EXPECT_EQ(kept.refusals_seen, 7u);

    const auto damaged = ParseReadMarks("refusals-seen 3\nread ../../etc/passwd\nread\n read " + a +
                                        "\nunread " + a + "\nrefusals-seen -1\nrefusals-seen 9x\n"
                                        "deleted " + b + " \nread " + a.substr(0, 20) + "\nread " + b);
    EXPECT_EQ(damaged.read, std::vector<std::string>{b});  // the last line needs no newline
    EXPECT_TRUE(damaged.deleted.empty());
    EXPECT_EQ(damaged.refusals_seen, 3u);
}

}  // namespace
