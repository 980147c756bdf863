// Helpers shared by the test programs: temporary folders, byte files, the
// real test streams and running commands.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
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
// Runs the command-line tool with Arguments (words for the shell, its input
// empty, two minutes at most); returns what it printed, its status in Status.
std::string Cli(const std::string& Arguments, int* Status = nullptr);
// Names as the shell's words: a test stream's name by its full path.
std::string Files(const std::vector<std::string>& Names);

// What independent tools see in a stream. Ffprobe returns ffprobe's standard
// output for the arguments; VideoFrames the decoded frame count of the first
// video stream; DecodeErrors what `ffmpeg -v error` says while decoding it
// (empty for a clean stream); Duration the container's duration in seconds.
std::string Ffprobe(const std::string& Arguments, const std::string& File);
int VideoFrames(const std::string& File);
std::string DecodeErrors(const std::string& File, const std::string& Options = {});
double Duration(const std::string& File);
// By ffprobe's packets: a DTS that does not increase, a PTS that repeats.
std::string TimeLineFaults(const std::string& File);

// Builders for hand-made system streams.
TBytes PackHeader(std::int64_t SCR, std::uint32_t MuxRate);
TBytes TimeStampField(std::uint8_t Prefix, std::int64_t Value);
// A PES packet: header bytes as given (stuffing, STD, time stamps or 0x0F),
// then Payload; the length field counts both.
TBytes PESPacket(std::uint8_t StreamId, const TBytes& Header, const TBytes& Payload);
TBytes SystemHeader(std::uint16_t HeaderLength);
TBytes Concat(std::initializer_list<TBytes> Parts);
TBytes Filled(std::size_t Count, std::uint8_t Value);

} // namespace vantrel::test
