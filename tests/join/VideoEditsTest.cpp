// The bytes a join changes in the video it passes on.
#include "join/VideoEdits.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

// A sequence end code anywhere in a chunk, or running past it into the next,
// becomes zeros; another code, or the prefix alone, stays.
TEST(SequenceEnds, AreBlankedWhereverTheyStandInAChunk)
{
    const TBytes End = {0, 0, 1, 0xB7};
    for (std::size_t At = 0; At + 4 <= 12; ++At)
        for (std::size_t Size = At + 1; Size <= 12; ++Size) {
            TBytes Data = Filled(12, 0x55);
            std::copy(End.begin(), End.end(), Data.begin() + static_cast<std::ptrdiff_t>(At));
            TBytes Expected = Data;
            std::fill_n(Expected.begin() + static_cast<std::ptrdiff_t>(At),
                        std::min<std::size_t>(4, Size - At), 0);
            const std::size_t Beyond = BlankSequenceEnds(Data.data(), Size, Data.size());
            EXPECT_EQ(Beyond, At + 4 > Size ? At + 4 - Size : 0) << At << " " << Size;
            EXPECT_EQ(TBytes(Data.begin(), Data.begin() + static_cast<std::ptrdiff_t>(Size)),
                      TBytes(Expected.begin(), Expected.begin() + static_cast<std::ptrdiff_t>(Size)))
                << At << " " << Size;
        }
    TBytes Other = {0, 0, 1, 0xB3, 0, 0, 1, 0, 0, 0, 1};
    const TBytes Kept = Other;
    EXPECT_EQ(BlankSequenceEnds(Other.data(), Other.size(), Other.size()), 0u);
    EXPECT_EQ(Other, Kept);
}

// The broken link flag is set in a later file's first open group only; a
// closed group stays as it is.
TEST(BrokenLink, IsSetInTheFirstOpenGroup)
{
    // 00 00 01 B8, 25 bits of time code, closed_gop, broken_link.
    TBytes Open = {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00, 0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00};
    EXPECT_TRUE(MarkBrokenLink(Open.data(), Open.size()));
    EXPECT_EQ(Open[7], 0x20);
    EXPECT_EQ(Open[15], 0x00);
    TBytes Closed = {0xAA, 0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x40};
    EXPECT_TRUE(MarkBrokenLink(Closed.data(), Closed.size()));
    EXPECT_EQ(Closed[8], 0x40);
    TBytes None = {0, 0, 1, 0xB3, 1, 2, 3, 4};
    EXPECT_FALSE(MarkBrokenLink(None.data(), None.size()));
}

} // namespace
} // namespace vantrel
