#include "telescope/lx200_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvi {
namespace {

struct ReplyCase {
    std::string received;
    std::string text;
};

void PrintTo(const ReplyCase& c, std::ostream* os)
{
    *os << testing::PrintToString(c.received);
}

class NormalisedReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(NormalisedReply, LastByteCutAndDegreeSignsTurned)
{
    const std::string& received = GetParam().received;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(received.data());
    EXPECT_EQ(normalisedReply(bytes, received.size()), GetParam().text);

    // The link's buffer: received bytes, then whatever was there before.
    std::vector<std::uint8_t> buffer(received.begin(), received.end());
    buffer.resize(received.size() + 4, 'x');
    normaliseReply(buffer.data(), received.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data())), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, NormalisedReply,
    testing::Values(ReplyCase{"+45\xDF" "12:34#", "+45:12:34"}, ReplyCase{"03/15/06#", "03/15/06"},
                    ReplyCase{"105\xDF" "00#", "105:00"},
                    // A bare digit has no "#": the digit itself is cut.
                    ReplyCase{"1", ""}, ReplyCase{"#", ""}, ReplyCase{"", ""},
                    ReplyCase{"\xDF\xDF\xDF#", ":::"},
                    // Cut at a capacity of 7: the last byte kept goes too.
                    ReplyCase{"12:34:5", "12:34:"},
                    ReplyCase{std::string("ab\0cd#", 6), "ab"},
                    ReplyCase{"0 Object below horizon#", "0 Object below horizon"}));

TEST(DegreeSigns, EveryColonOfATypedAngle)
{
    EXPECT_EQ(withDegreeSigns("+45:30"), "+45\xDF" "30");
    EXPECT_EQ(withDegreeSigns("1:2:3"), "1\xDF" "2\xDF" "3");
    EXPECT_EQ(withDegreeSigns("105"), "105");
    // What the telescope echoes back reads as the text typed.
    const std::string echoed = withDegreeSigns("-33:52") + "#";
    EXPECT_EQ(normalisedReply(reinterpret_cast<const std::uint8_t*>(echoed.data()), echoed.size()), "-33:52");
}

}  // namespace
}  // namespace tarvi
