// Runs the command-line tool's info command on the real test streams and
// checks what it says against the window's words and ffprobe.
#include "TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using namespace test;

TEST(CliInfo, ShowsWhatTheFileListShows)
{
    TTempDir Dir;
    WriteFile(Dir.File("empty.mpg"), {});
    TBytes Cut = ReadFile(Stream("ff_pal.m1v"));
    Cut.resize(6);
    WriteFile(Dir.File("cut.m1v"), Cut);
    int Status;
    const std::string Said =
        Cli("info" + Files({"ff_pal.mpg", "ff_vcd.mpg", "ff_pal_mono48.mpg", "ff_pal.m1v", "vcd_track.dat"}) +
                " " + Quote(Dir.File("empty.mpg")) + " " + Quote(Dir.File("cut.m1v")) + " " +
                Quote(Dir.File("missing")) + " " + Quote(Dir.Path()),
            &Status);
    EXPECT_EQ(Status, 1);
    const std::string Expected[] = {
        Stream("ff_pal.mpg") + "\n  352 x 288  25.00 fps  OK  system stream  0:00:02.01  audio: Layer II "
                               "44.1 kHz stereo 192 kbit/s\n",
        Stream("ff_vcd.mpg") + "\n  352 x 240  29.97 fps  Video Differ",
        "  Video differs from the first file: 352 x 240 at 29.97 fps vs 352 x 288 at 25.00 fps\n",
        Stream("ff_pal_mono48.mpg") +
            "\n  352 x 288  25.00 fps  Audio Differ  system stream  0:00:02.02  audio: "
            "Layer II 48 kHz mono 128 kbit/s\n",
        Stream("ff_pal.m1v") +
            "\n  352 x 288  25.00 fps  Audio Differ  video stream  0:00:02.00  audio: none\n",
        Stream("vcd_track.dat") + "\n  352 x 288  25.00 fps  OK  system stream  0:00:02.01  audio: "
                                  "Layer II 44.1 kHz stereo 224 kbit/s\n",
        Dir.File("empty.mpg") + "\n  Unable to read the file format.\n",
        Dir.File("cut.m1v") + "\n  Unable to read video settings\n",
        Dir.File("missing") + "\n  Cannot open file " + Dir.File("missing") + "\nNo such file or directory\n",
        Dir.Path() + "\n  " + Dir.Path() + " is not a regular file.\n",
    };
    for (const std::string& Line : Expected)
        EXPECT_NE(Said.find(Line), std::string::npos) << Line << "\nin\n" << Said;
}

// The JSON document says what the text says, for scripts; a file name that
// is not UTF-8 still gives valid JSON.
TEST(CliInfo, JsonAgreesWithTheText)
{
    TTempDir Dir;
    const std::string Odd = Dir.File("odd\xff\"name.mpg");
    WriteFile(Odd, ReadFile(Stream("ff_pal_mono48.mpg")));
    // Not UTF-8: a surrogate, an overlong form, a byte that never starts one.
    const std::string Gone[] = {Dir.File("gone"), Dir.File("s\xED\xA0\x80"), Dir.File("o\xE0\x80\xAF"),
                                Dir.File("f\xF5\x80\x80\x80")};
    std::string Args = Files({"ff_pal.mpg", "ff_pal.m1v"}) + " " + Quote(Odd);
    for (const std::string& Name : Gone)
        Args += " " + Quote(Name);
    int Status;
    const std::string Json = Cli("info --json" + Args + " 2>/dev/null", &Status);
    EXPECT_EQ(Status, 1);
    WriteFile(Dir.File("info.json"), TBytes(Json.begin(), Json.end()));
    // python3 reads it as JSON; the fields come back as lines to compare.
    std::string Fields;
    ASSERT_EQ(
        RunCommand("python3 -c 'import json,sys\n"
                   "for f in json.load(open(sys.argv[1]))[\"files\"]:\n"
                   "  a=f.get(\"audio\") or {}\n"
                   "  print(f.get(\"kind\"),f.get(\"width\"),f.get(\"height\"),f.get(\"frame_rate\"),"
                   "f.get(\"duration\"),a.get(\"sample_rate\"),a.get(\"channel_mode\"),a.get(\"bit_rate\"),"
                   "f.get(\"status\"),\"error\" in f)\n"
                   "  if \"file_bytes\" in f: print(f[\"file_bytes\"])' " +
                       Quote(Dir.File("info.json")),
                   &Fields),
        0)
        << Json;
    // A name that is not UTF-8 comes with its exact bytes.
    auto Hex = [](const std::string& Name) {
        std::string Out;
        for (std::size_t I = 0; I < Name.size(); ++I) {
            static const char Digits[] = "0123456789abcdef";
            Out += Digits[static_cast<unsigned char>(Name[I]) >> 4];
            Out += Digits[static_cast<unsigned char>(Name[I]) & 15];
        }
        return Out + "\n";
    };
    const std::string Missing = "None None None None None None None None None True\n";
    EXPECT_EQ(Fields, "system stream 352 288 25.0 2.01 44100 stereo 192000 OK False\n"
                      "video stream 352 288 25.0 2.0 None None None Audio Differ False\n"
                      "system stream 352 288 25.0 2.02 48000 mono 128000 Audio Differ False\n" +
                          Hex(Odd) + Missing + Missing + Hex(Gone[1]) + Missing + Hex(Gone[2]) + Missing +
                          Hex(Gone[3]));
}

// A transport stream: its programs and streams after the usual line, the
// same in JSON for scripts.
TEST(CliInfo, TransportStreamsShowTheirPrograms)
{
    int Status;
    const std::string Said = Cli("info" + Files({"ts_ac3.ts", "ts_pids.ts", "hd_720p50_2.ts"}), &Status);
    EXPECT_EQ(Status, 0);
    const std::string Expected[] = {
        Stream("ts_ac3.ts") +
            "\n  720 x 576  25.00 fps  16:9 MPEG-2  OK  transport stream  0:00:02.02  audio: "
            "Layer II 48 kHz stereo 192 kbit/s deu, AC-3 48 kHz 5.1 384 kbit/s eng\n"
            "  Main profile at Main level, 4:2:0, progressive\n"
            "  program 1 \"Vantrel Eins\" (PMT PID 4096, PCR PID 256), 188-byte packets\n"
            "    PID 256: MPEG-2 video 720 x 576 25.00 fps 16:9\n"
            "    PID 257: Layer II 48 kHz stereo 192 kbit/s, deu\n"
            "    PID 258: AC-3 48 kHz 5.1 384 kbit/s, eng\n",
        "  program 28106 \"Vantrel Eins\" (PMT PID 4352, PCR PID 1008), 188-byte packets\n",
        Stream("hd_720p50_2.ts") +
            "\n  1280 x 720  50.00 fps  H.264  Video Differ  transport stream  0:00:01.02",
        "    PID 256: H.264 1280 x 720p 50.00 fps\n",
        "  Video differs from the first file: 1280 x 720 at 50.00 fps H.264 4:2:0 vs 720 x 576 at 25.00 fps "
        "MPEG-2 4:2:0\n"};
    for (const std::string& Line : Expected)
        EXPECT_NE(Said.find(Line), std::string::npos) << Line << "\nin\n" << Said;

    TTempDir Dir;
    const std::string Json = Cli("info --json" + Files({"ts_pids.ts"}), &Status);
    EXPECT_EQ(Status, 0);
    WriteFile(Dir.File("info.json"), TBytes(Json.begin(), Json.end()));
    std::string Fields;
    ASSERT_EQ(RunCommand(
                  "python3 -c 'import json,sys\n"
                  "f=json.load(open(sys.argv[1]))[\"files\"][0]\n"
                  "print(f[\"kind\"],f[\"packet_size\"],f[\"program\"],f[\"audio\"][\"pid\"])\n"
                  "for p in f[\"programs\"]:\n"
                  "  print(p[\"number\"],p[\"name\"],p[\"pmt_pid\"],p[\"pcr_pid\"])\n"
                  "  for s in p[\"streams\"]: print(s[\"pid\"],s[\"kind\"],s[\"codec\"],s[\"languages\"])' " +
                      Quote(Dir.File("info.json")),
                  &Fields),
              0)
        << Json;
    EXPECT_EQ(Fields, "transport stream 188 28106 513\n"
                      "28106 Vantrel Eins 4352 1008\n"
                      "1008 video MPEG-2 video []\n"
                      "513 audio MPEG [\'deu\']\n"
                      "1010 audio AC-3 [\'eng\']\n");
}

TEST(CliInfo, VersionHelpAndFileNamesAfterTwoDashes)
{
    int Status;
    EXPECT_EQ(Cli("--version", &Status), "Vantrel " VANTREL_VERSION "\n");
    EXPECT_EQ(Status, 0);
    EXPECT_NE(Cli("--help", &Status).find("Usage: vantrel-cli info"), std::string::npos);
    EXPECT_EQ(Status, 0);
    for (const char* Command : {"info", "join"}) {
        const std::string Said = Cli(std::string(Command) + " --help", &Status);
        EXPECT_EQ(Status, 0);
        EXPECT_EQ(Said.rfind(std::string("Usage: vantrel-cli ") + Command, 0), 0u) << Said;
    }
    // A file may be called "--help" or start with a dash after "--".
    TTempDir Dir;
    WriteFile(Dir.File("-x.mpg"), ReadFile(Stream("ff_pal.mpg")));
    const std::string Said = Cli("info -- " + Quote(Dir.File("-x.mpg")) + " --help", &Status);
    EXPECT_EQ(Status, 1);
    EXPECT_NE(Said.find("352 x 288"), std::string::npos) << Said;
    EXPECT_NE(Said.find("--help\n  Cannot open file --help"), std::string::npos) << Said;
}

} // namespace
} // namespace vantrel
