// Helpers shared by the test programs: temporary folders, byte files, the
// real test streams and running commands.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::test {

using TBytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away.
class TTempDir
{
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return m_Path; }
    std::string File(const std::string& Name) const { return m_Path + "/" + Name; }

private:
    std::string m_Path;
};

void WriteFile(const std::string& Name, const TBytes& Bytes);
TBytes ReadFile(const std::string& Name);

// Full path of a stream made by tests/data/make-streams.sh.
std::string Stream(const std::string& Name);

// Runs a shell command; returns its exit status and fills Output with what it
// printed on stdout and stderr together.
int RunCommand(const std::string& Command, std::string* Output = nullptr);
// Quotes a word for the shell.
std::string Quote(const std::string& Word);

// What independent tools see in a stream. Ffprobe returns ffprobe's standard
// output for the arguments; VideoFrames the decoded frame count of the first
// video stream; DecodeErrors what `ffmpeg -v error` says while decoding it
// (empty for a clean stream); Duration the container's duration in seconds.
std::string Ffprobe(const std::string& Arguments, const std::string& File);
int VideoFrames(const std::string& File);
std::string DecodeErrors(const std::string& File);
double Duration(const std::string& File);

// Builders for hand-made system streams.
TBytes PackHeader(std::int64_t SCR, std::uint32_t MuxRate);
TBytes TimeStampField(std::uint8_t Prefix, std::int64_t Value);
// A PES packet: header bytes as given (stuffing, STD, time stamps or 0x0F),
// then Payload; the length field counts both.
TBytes PESPacket(std::uint8_t StreamId, const TBytes& Header, const TBytes& Payload);
TBytes SystemHeader(std::uint16_t HeaderLength);
TBytes Concat(std::initializer_list<TBytes> Parts);
TBytes Filled(std::size_t Count, std::uint8_t Value);

// The packets of a system stream held in memory, found without the reader:
// each start code with a code of 0xBA or more, its length taken from the
// standard (12 for a pack header, else 6 + the length field). Bytes between
// packets are left out; a packet cut by the end of the file ends the list.
std::vector<TBytes> SplitPackets(const TBytes& File);
// Where each of those packets starts in the file.
std::vector<std::size_t> PacketOffsets(const TBytes& File);

// How a stream's system clock treats its packets, worked out here from the
// bytes and the standard, not with the reader: a packet's last byte arrives
// at its pack's SCR + (bytes from the pack's start to the packet's end) x
// 90000 / (mux rate x 50), and must not arrive after its DTS (its PTS when it
// has no DTS). Every pack's SCR must lie after the one before.
struct TClockCheck
{
    int Stamped = 0;      // audio and video packets with a time stamp
    int Late = 0;         // of those, arriving after their decode time
    double WorstLate = 0; // seconds
    int SCRNotIncreasing = 0;
    std::vector<std::size_t> PackSizes; // bytes from each pack header to the next
    std::set<std::uint32_t> MuxRates;
};
TClockCheck CheckClock(const TBytes& File);
// The system target decoder of ISO/IEC 11172-1 (2.4.2), run here from the
// bytes alone: each audio and video stream has a buffer of the size its PES
// STD fields (or, before one, the system header) declare; a packet's payload
// enters when its last byte arrives (as CheckClock times it), and each access
// unit (a picture with the headers before it; an audio frame) leaves at its
// decode time: the stamp of the packet in which it starts, else one frame
// after the one before. Late: access units whose last byte arrives after
// their decode time. Overflows: packets after which a buffer holds more than
// its size.
struct TDecoderModelCheck
{
    int Units = 0;
    int Late = 0;
    double WorstLate = 0; // seconds
    int Overflows = 0;
    double FirstOverflow = 0, FirstLate = 0;         // seconds of the clock, where one was found
    std::map<std::uint8_t, std::int64_t> Peak, Size; // bytes, by stream id
    std::string Text() const;                        // for failure messages
};
TDecoderModelCheck CheckDecoderModel(const TBytes& File);

// What a DVD's navigation packs say of their times that the stream does not
// bear out: a presentation control packet's VOBU start time that is not
// the earliest video PTS of its VOBU (the packs up to the next navigation
// pack), an end time not after it; a search information packet's SCR that
// is not its pack's; a cell elapsed time that goes back. Fields left zero
// (a muxer that leaves them to an authoring tool) are passed over. Count:
// the navigation packs with times.
struct TNavigationCheck
{
    int Count = 0;
    std::string Faults;
};
TNavigationCheck CheckNavigation(const TBytes& File);

// Bytes and 90 kHz ticks of the MPEG audio frame whose header is at H (four
// bytes), and of the AC-3 sync frame at H (five); 0 bytes when none is there.
std::pair<std::int64_t, double> AudioFrame(const std::uint8_t* H);
std::pair<std::int64_t, double> AC3Frame(const std::uint8_t* H);

// The time stamps a packet of a stream id carries, in file order, 33-bit.
std::vector<std::int64_t> StampsOf(const TBytes& File, std::uint8_t StreamId, bool Decode);

} // namespace vantrel::test
