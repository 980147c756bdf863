#include "probe/MediaJson.h"

#include "io/SysUtils.h"
#include "mpeg/ts/ProgramTables.h"
#include "probe/JoinRules.h"
#include "probe/MediaText.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace vantrel {

std::string JsonString(const std::string& Text)
{
    std::string Out = "\"";
    for (std::size_t I = 0; I < Text.size();) {
        const auto C = static_cast<unsigned char>(Text[I]);
        const std::size_t Length = Utf8Length(Text, I);
        if (C == '"' || C == '\\')
            Out += std::string("\\") + static_cast<char>(C);
        else if (C < 0x20)
            Out += Format("\\u%04x", C);
        else if (Length == 0)
            Out += "\\ufffd";
        else
            Out += Text.substr(I, Length);
        I += std::max<std::size_t>(Length, 1);
    }
    return Out + "\"";
}

std::string JsonFile(const std::string& File)
{
    std::string Fields = "\"file\": " + JsonString(File);
    if (!IsUtf8(File)) {
        Fields += ", \"file_bytes\": \"";
        for (const char C : File)
            Fields += Format("%02x", static_cast<unsigned char>(C));
        Fields += "\"";
    }
    return Fields;
}

namespace {

const char* SoundCodecName(TAudioCodec Codec)
{
    static constexpr const char* Names[] = {"MPEG",   "AC-3", "DTS",        "LPCM",
                                            "E-AC-3", "AAC",  "AAC (LATM)", "unknown"};
    return Codec < std::size(Names) ? Names[Codec] : "unknown";
}

std::string LanguagesJson(const std::vector<std::string>& Codes)
{
    std::string Text;
    for (const std::string& Code : Codes)
        Text += (Text.empty() ? "" : ", ") + JsonString(Code);
    return "[" + Text + "]";
}

// One stream of a program: its PID and type, what it is and its format.
std::string StreamJson(const TStreamInfo& Stream)
{
    static constexpr const char* Kinds[] = {"other", "video", "audio", "subtitles", "teletext"};
    std::string Text =
        Format("{\"pid\": %u, \"stream_type\": %u, \"kind\": \"%s\"", Stream.PID, Stream.StreamType,
               Stream.Kind < std::size(Kinds) ? Kinds[Stream.Kind] : "other");
    if (Stream.Kind == skSound) {
        Text += Format(", \"codec\": \"%s\"", SoundCodecName(Stream.AudioCodec));
        if (Stream.AudioCodec == acMPEG)
            Text += Stream.AudioLayer ? Format(", \"layer\": %u, \"channel_mode\": %s", Stream.AudioLayer,
                                               JsonString(ChannelModeName(Stream.ChannelMode)).c_str())
                                      : std::string(", \"layer\": null");
        Text += Format(", \"sample_rate\": %d, \"channels\": %u, \"low_frequency\": %s, \"bit_rate\": %d",
                       Stream.SampleRate, Stream.AudioChannels, Stream.LowFrequency ? "true" : "false",
                       Stream.AudioBitRate);
    } else {
        Text += ", \"codec\": " + JsonString(StreamCodingName(static_cast<TStreamCoding>(Stream.Coding)));
        if (Stream.Kind == skVideo && Stream.Width)
            Text += Format(", \"width\": %u, \"height\": %u, \"frame_rate\": %.3f", Stream.Width,
                           Stream.Height, Stream.FrameRate);
    }
    return Text + ", \"languages\": " + LanguagesJson(Stream.Languages) + "}";
}

// A transport stream's packet size, the program its other fields describe,
// and every program with its streams.
std::string TransportJson(const TMediaInfo& Info)
{
    std::string Programs;
    for (const TProgramInfo& Program : Info.Programs) {
        std::string Streams;
        for (const TStreamInfo& Stream : Program.Streams)
            Streams += (Streams.empty() ? "" : ", ") + StreamJson(Stream);
        Programs +=
            Format("%s{\"number\": %u, \"name\": %s, \"provider\": %s, \"pmt_pid\": %u, \"pcr_pid\": %u, "
                   "\"streams\": [%s]}",
                   Programs.empty() ? "" : ", ", Program.Number, JsonString(Program.Name).c_str(),
                   JsonString(Program.Provider).c_str(), Program.PMTPID, Program.PCRPID, Streams.c_str());
    }
    return Format(", \"packet_size\": %u, \"program\": %u, \"programs\": [%s]", Info.PacketSize,
                  Info.Programs.empty() ? 0 : Info.Programs[Info.Program].Number, Programs.c_str());
}

} // namespace

std::string InfoJson(const std::string& File, const TMediaInfo& Info, const TMediaInfo& Reference)
{
    std::string Audio = "null";
    if (Info.HasAudio && Info.AudioCodec == acMPEG)
        Audio =
            Info.AudioLayer == 0
                ? std::string("{\"layer\": null}")
                : Format("{\"codec\": \"MPEG\", \"layer\": %u, \"sample_rate\": %d, \"channel_mode\": %s, "
                         "\"bit_rate\": %d}",
                         Info.AudioLayer, Info.SampleRate,
                         JsonString(ChannelModeName(Info.ChannelMode)).c_str(), Info.AudioBitRate);
    else if (Info.HasAudio)
        Audio = Format("{\"codec\": %s, \"stream\": \"0x%02X\", \"sample_rate\": %d, \"channels\": %u, "
                       "\"low_frequency\": %s, \"bit_rate\": %d}",
                       Info.AudioCodec == acAC3   ? "\"AC-3\""
                       : Info.AudioCodec == acDTS ? "\"DTS\""
                                                  : "\"LPCM\"",
                       Info.AudioSubStream, Info.SampleRate, Info.AudioChannels,
                       Info.LowFrequency ? "true" : "false", Info.AudioBitRate);
    if (Info.TransportStream) {
        Audio = "null";
        for (const TStreamInfo& Stream : Info.Programs[Info.Program].Streams)
            if (Stream.Kind == skSound) {
                Audio = StreamJson(Stream);
                break;
            }
    }
    const std::string Difference = DifferenceText(Reference, Info);
    const std::string Video =
        (Info.MPEGVersion == 2 ? Format(", \"mpeg\": 2, \"video\": %s, \"subpictures\": %u",
                                        JsonString(VideoDetailText(Info)).c_str(), Info.Subpictures)
                               : Format(", \"mpeg\": %u", Info.MPEGVersion)) + // 4: H.264
        (Info.TransportStream ? TransportJson(Info) : std::string());
    return Format("{%s, \"kind\": \"%s\", \"width\": %u, \"height\": %u, \"frame_rate\": %.3f%s, "
                  "\"duration\": %.2f, \"audio\": %s, \"status\": %s, \"difference\": %s}",
                  JsonFile(File).c_str(), KindText(Info).c_str(), Info.Width, Info.Height, Info.FrameRate,
                  Video.c_str(), Info.Duration, Audio.c_str(),
                  JsonString(FormatMatchText(CompareMediaInfo(Reference, Info))).c_str(),
                  Difference.empty() ? "null" : JsonString(Difference).c_str());
}

} // namespace vantrel
