// Real streams joined in the process, judged by the suite's own checks of
// the bytes: every packet kept with its stamps moved by one offset a file,
// the decoder's buffers and clock held at every joint, a DVD's navigation
// packs true to their place. The fast counterpart of the command-line tests.
#include "join/Joiner.h"

#include "StreamChecks.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

struct TJoinedCase
{
    const char* Name;
    std::vector<std::string> Inputs;
};
void PrintTo(const TJoinedCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class JoinedStreams : public ::testing::TestWithParam<TJoinedCase>
{
};

TEST_P(JoinedStreams, KeepEveryPacketAndHoldTheDecoderModel)
{
    const TJoinedCase& C = GetParam();
    TTempDir Dir;
    TJoiner Joiner;
    std::vector<TBytes> Inputs;
    int Late = 0, Overflows = 0;
    for (const std::string& Name : C.Inputs) {
        Joiner.Inputs.push_back(ProbeInput(Stream(Name), false));
        Inputs.push_back(ReadFile(Stream(Name)));
        const TDecoderModelCheck Model = CheckDecoderModel(Inputs.back());
        Late += Model.Late, Overflows += Model.Overflows;
    }
    Joiner.OutputFileName = Dir.File("out.mpg");
    Joiner.RecalcTimecodes = true;
    Joiner.FrameRate = Joiner.Inputs.front().Info.FrameRate;
    Joiner.Execute();
    const TBytes Out = ReadFile(Dir.File("out.mpg"));
    EXPECT_EQ(CheckPacketsKept(Inputs, Out).Faults, "");
    EXPECT_EQ(CheckClock(Out).SCRNotIncreasing, 0);
    const TDecoderModelCheck Model = CheckDecoderModel(Out);
    EXPECT_LE(Model.Late, Late) << Model.Text();
    EXPECT_LE(Model.Overflows, Overflows) << Model.Text();
    EXPECT_EQ(CheckNavigation(Out).Faults, "");
    // The plan's starts stand where the files before end: later and later.
    for (std::size_t I = 1; I < Joiner.Plan().Files.size(); ++I)
        EXPECT_GT(Joiner.Plan().Files[I].Time, Joiner.Plan().Files[I - 1].Time);
}

INSTANTIATE_TEST_SUITE_P(
    RealStreams, JoinedStreams,
    ::testing::Values(TJoinedCase{"FfmpegPair", {"ff_pal.mpg", "ff_pal_b.mpg", "ff_pal.mpg"}},
                      TJoinedCase{"FfmpegVcd", {"ff_pal_vcd.mpg", "ff_pal_vcd.mpg"}},
                      TJoinedCase{"MplexVcd", {"mplex_vcd.mpg", "mplex_vcd_b.mpg"}},
                      TJoinedCase{"MplexDvd", {"mplex_dvd1.mpg", "mplex_dvd2.mpg"}},
                      TJoinedCase{"AuthoredDvd", {"dvd_authored1.vob", "dvd_authored2.vob"}},
                      TJoinedCase{"DtsVobs", {"vob_dts.vob", "vob_dts.vob"}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace vantrel
