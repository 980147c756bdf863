// The chapter list as a value and its writers.
#include "join/Chapters.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

TInputRecord Record(const std::string& Name)
{
    TInputRecord Record;
    Record.FileName = Name;
    Record.Kind = mfkSystemStream;
    Record.Info.IsSystemStream = true;
    Record.Info.FrameRate = 25;
    return Record;
}

TEST(Chapters, FormatsByNameAndExtension)
{
    const struct
    {
        const char* File;
        TDiscKind Disc;
        std::optional<TChapterFormat> Format;
    } Cases[] = {
        {"a.txt", TDiscKind::Dvd, TChapterFormat::Text},
        {"a.TXT", TDiscKind::None, TChapterFormat::Text},
        {"a.ffmeta", TDiscKind::None, TChapterFormat::FFMetadata},
        {"dir.xml/a.meta", TDiscKind::Vcd, TChapterFormat::FFMetadata},
        {"a.xml", TDiscKind::Dvd, TChapterFormat::DvdAuthor},
        {"a.xml", TDiscKind::None, TChapterFormat::DvdAuthor},
        {"a.xml", TDiscKind::Svcd, TChapterFormat::VcdImager},
        {"a.srt", TDiscKind::None, std::nullopt},
        {"txt", TDiscKind::None, std::nullopt},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(ChapterFormatOf(C.File, C.Disc), C.Format) << C.File;
    EXPECT_EQ(ChapterFileName("/v/joined.vob", ChapterFormatFor(TDiscKind::Dvd)), "/v/joined.dvdauthor.xml");
    EXPECT_EQ(ChapterFileName("joined", ChapterFormatFor(TDiscKind::Vcd)), "joined.vcdimager.xml");
    EXPECT_EQ(ChapterFileName("a.b/joined.mpg", ChapterFormatFor(TDiscKind::None)),
              "a.b/joined.chapters.txt");
    EXPECT_EQ(ChapterTime(3723.4565), "01:02:03.457");
    EXPECT_EQ(ChapterTime(-0.01), "00:00:00.000");
}

// Later files start where their first picture shows: after their own sound
// by what their stream says, unless they continue the recording before; a
// muxer that lays pictures end to end has them after the pictures before.
TEST(Chapters, StartAtEachFilesFirstPicture)
{
    const std::vector<TInputRecord> Inputs = {Record("/a/one.mpg"), Record("two.vob"), Record("three")};
    const std::vector<TInputTimes> Times = {
        {0.01, 0.02, 2.0, 0, {}}, {0, 0.6, 3.0, 0, {}}, {0, 0.5, 1.0, 0, {}}};
    const std::vector<TInputPlacement> Placements = {{}, {2.1, 0.08, false}, {5.2, 0, true}};
    TChapterList List = MakeChapterList(Inputs, Times, Placements, "out.mpg", false);
    ASSERT_EQ(List.Chapters.size(), 3u);
    EXPECT_EQ(List.Chapters[0].Name, "one");
    EXPECT_EQ(List.Chapters[2].Name, "three");
    const double Starts[] = {0, 2.7, 5.2}, PictureStarts[] = {0, 2.02, 5.02};
    for (std::size_t I = 0; I < 3; ++I) {
        EXPECT_DOUBLE_EQ(List.Chapters[I].Start, Starts[I]) << I;
        EXPECT_DOUBLE_EQ(List.Chapters[I].PictureStart, PictureStarts[I]) << I;
    }
    EXPECT_DOUBLE_EQ(List.FirstPicture, 0.02);
    // Video only: the pictures alone, from the first.
    List = MakeChapterList(Inputs, Times, {{}, {2, 0, false}, {5, 0, false}}, "out.m1v", true);
    EXPECT_DOUBLE_EQ(List.Chapters[1].Start, 2);
    EXPECT_DOUBLE_EQ(List.Chapters[2].PictureStart, 5);
}

TEST(Chapters, WritersEscapeWhatEachFormatNeeds)
{
    TChapterList List;
    List.Output = "/v/a&b.vob";
    List.FrameRate = 29.97;
    List.FirstPicture = 0.5;
    List.End = 9;
    List.Chapters = {{"x=1;#2\\3\n4", 0, 0}, {"<b--c>", 2.25, 2}};
    EXPECT_EQ(
        ChapterText(List, TChapterFormat::Text),
        "CHAPTER01=00:00:00.000\nCHAPTER01NAME=x=1;#2\\3\n4\nCHAPTER02=00:00:02.000\nCHAPTER02NAME=<b--c>\n");
    EXPECT_EQ(
        ChapterText(List, TChapterFormat::FFMetadata),
        ";FFMETADATA1\n\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2250\ntitle=x\\=1\\;\\#2\\\\3\\\n4\n\n"
        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2250\nEND=9000\ntitle=<b--c>\n");
    const std::string Dvd = ChapterText(List, TChapterFormat::DvdAuthor);
    EXPECT_NE(Dvd.find("<vob file=\"/v/a&amp;b.vob\" chapters=\"00:00:00.000,00:00:01.750\" />"),
              std::string::npos)
        << Dvd;
    EXPECT_NE(Dvd.find("<video format=\"ntsc\" />"), std::string::npos);
    EXPECT_NE(Dvd.find("<!-- 2 00:00:01.750 <b- -c> -->"), std::string::npos) << Dvd;
    EXPECT_NE(Dvd.find("dest=\"/v/a&amp;b-dvd\""), std::string::npos) << Dvd;
    List.Disc = TDiscKind::Svcd;
    const std::string Vcd = ChapterText(List, TChapterFormat::VcdImager);
    EXPECT_NE(Vcd.find("class=\"svcd\" version=\"1.0\""), std::string::npos);
    EXPECT_NE(Vcd.find("<volume-id>A_B</volume-id>"), std::string::npos) << Vcd;
    EXPECT_NE(Vcd.find("<entry id=\"entry-001\">2.250</entry>"), std::string::npos) << Vcd;
    EXPECT_EQ(Vcd.find("entry-002"), std::string::npos);
}

// What the stream says against what ffprobe says of it: the cut's pictures
// start 0.6 s after its sound; a DVD's packs are sectors.
TEST(Chapters, InputTimesFromTheStream)
{
    const struct
    {
        const char* Name;
        std::int64_t PackSize;
        TDiscKind Disc;
    } Cases[] = {{"dvd_cut1.vob", 2048, TDiscKind::Dvd},
                 {"mplex_vcd.mpg", 2324, TDiscKind::Vcd},
                 {"svcd1.mpg", 2324, TDiscKind::Svcd},
                 {"ff_pal.mpg", 0, TDiscKind::None}};
    for (const auto& C : Cases) {
        const TInputRecord Input = ProbeInput(Stream(C.Name), false);
        const TInputTimes Times = ReadInputTimes(Input);
        const auto Start = [&](const char* Which) {
            return std::stod(Ffprobe(std::string("-select_streams ") + Which +
                                         ":0 -show_entries stream=start_time -of csv=p=0",
                                     Stream(C.Name)));
        };
        EXPECT_NEAR(Times.FirstPicture, Start("v") - std::min(Start("v"), Start("a")), 0.001) << C.Name;
        EXPECT_NEAR(Times.Pictures, VideoFrames(Stream(C.Name)) / Input.Info.FrameRate, 0.001) << C.Name;
        EXPECT_EQ(Times.PackSize, C.PackSize) << C.Name;
        EXPECT_EQ(DiscKindOf(Input, Times, false), C.Disc) << C.Name;
        EXPECT_EQ(DiscKindOf(Input, Times, true), TDiscKind::None) << C.Name;
    }
}

} // namespace
} // namespace vantrel
