#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <tuple>

namespace vantrel::test {

TTempDir::TTempDir()
{
    std::string Template = (std::filesystem::temp_directory_path() / "vantrel-test-XXXXXX").string();
    if (!::mkdtemp(Template.data()))
        throw std::runtime_error("mkdtemp failed");
    m_Path = Template;
}

TTempDir::~TTempDir()
{
    std::error_code Ignored;
    std::filesystem::remove_all(m_Path, Ignored);
}

void WriteFile(const std::string& Name, const TBytes& Bytes)
{
    std::ofstream Out(Name, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
    if (!Out)
        throw std::runtime_error("cannot write " + Name);
}

TBytes ReadFile(const std::string& Name)
{
    std::ifstream In(Name, std::ios::binary);
    if (!In)
        throw std::runtime_error("cannot read " + Name);
    return TBytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

std::string Stream(const std::string& Name)
{
    return std::string(VANTREL_STREAM_DIR) + "/" + Name;
}

int RunCommand(const std::string& Command, std::string* Output)
{
    // Grouped, so that a redirection inside Command still holds.
    FILE* Pipe = ::popen(("{ " + Command + "\n} 2>&1").c_str(), "r");
    if (!Pipe)
        throw std::runtime_error("popen failed");
    std::string Text;
    char Chunk[4096];
    std::size_t N;
    while ((N = std::fread(Chunk, 1, sizeof Chunk, Pipe)) > 0)
        Text.append(Chunk, N);
    const int Status = ::pclose(Pipe);
    if (Output)
        *Output = Text;
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

std::string Files(const std::vector<std::string>& Names)
{
    std::string Result;
    for (const std::string& Name : Names)
        Result += " " + Quote(Name.front() == '/' ? Name : Stream(Name));
    return Result;
}

std::string Cli(const std::string& Arguments, int* Status)
{
    std::string Output;
    const int Code =
        RunCommand("timeout 120 " + std::string(VANTREL_CLI) + " " + Arguments + " </dev/null", &Output);
    if (Status)
        *Status = Code;
    return Output;
}

std::string Quote(const std::string& Word)
{
    std::string Result = "'";
    for (char C : Word)
        Result += C == '\'' ? std::string("'\\''") : std::string(1, C);
    return Result + "'";
}

std::string Ffprobe(const std::string& Arguments, const std::string& File)
{
    // Complaints about a damaged stream go to stderr; only the answer is wanted.
    std::string Output;
    RunCommand("ffprobe -v error " + Arguments + " " + Quote(File) + " 2>/dev/null", &Output);
    return Output;
}

int VideoFrames(const std::string& File)
{
    return std::atoi(
        Ffprobe("-count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0", File)
            .c_str());
}

std::string DecodeErrors(const std::string& File, const std::string& Options)
{
    std::string Output;
    RunCommand("ffmpeg -nostdin -v error -i " + Quote(File) + " " + Options + " -f null -", &Output);
    return Output;
}

double Duration(const std::string& File)
{
    return std::atof(Ffprobe("-show_entries format=duration -of csv=p=0", File).c_str());
}

TBytes TimeStampField(std::uint8_t Prefix, std::int64_t Value)
{
    return {static_cast<std::uint8_t>((Prefix << 4) | (((Value >> 30) & 7) << 1) | 1),
            static_cast<std::uint8_t>(Value >> 22), static_cast<std::uint8_t>((Value >> 14) | 1),
            static_cast<std::uint8_t>(Value >> 7), static_cast<std::uint8_t>((Value << 1) | 1)};
}

TBytes PackHeader(std::int64_t SCR, std::uint32_t MuxRate)
{
    TBytes Result = {0, 0, 1, 0xBA};
    const TBytes Field = TimeStampField(2, SCR);
    Result.insert(Result.end(), Field.begin(), Field.end());
    Result.push_back(static_cast<std::uint8_t>((MuxRate >> 15) | 0x80));
    Result.push_back(static_cast<std::uint8_t>(MuxRate >> 7));
    Result.push_back(static_cast<std::uint8_t>((MuxRate << 1) | 1));
    return Result;
}

TBytes PESPacket(std::uint8_t StreamId, const TBytes& Header, const TBytes& Payload)
{
    const std::size_t Length = Header.size() + Payload.size();
    TBytes Result = {
        0, 0, 1, StreamId, static_cast<std::uint8_t>(Length >> 8), static_cast<std::uint8_t>(Length)};
    Result.insert(Result.end(), Header.begin(), Header.end());
    Result.insert(Result.end(), Payload.begin(), Payload.end());
    return Result;
}

TBytes SystemHeader(std::uint16_t HeaderLength)
{
    TBytes Result = {
        0, 0, 1, 0xBB, static_cast<std::uint8_t>(HeaderLength >> 8), static_cast<std::uint8_t>(HeaderLength)};
    Result.resize(Result.size() + HeaderLength, 0xFF);
    return Result;
}

TBytes Concat(std::initializer_list<TBytes> Parts)
{
    TBytes Result;
    for (const TBytes& Part : Parts)
        Result.insert(Result.end(), Part.begin(), Part.end());
    return Result;
}

TBytes Filled(std::size_t Count, std::uint8_t Value)
{
    return TBytes(Count, Value);
}

std::string TimeLineFaults(const std::string& File)
{
    std::istringstream Lines(Ffprobe("-show_entries packet=stream_index,pts,dts -of csv=p=0", File));
    std::map<int, long long> LastDTS;
    std::map<int, std::set<long long>> SeenPTS;
    std::string Faults, Line;
    while (std::getline(Lines, Line)) {
        std::istringstream Fields(Line);
        std::string Index, PTS, DTS;
        std::getline(Fields, Index, ',');
        std::getline(Fields, PTS, ',');
        std::getline(Fields, DTS, ',');
        const int Stream = std::stoi(Index);
        if (DTS != "N/A" && !DTS.empty()) {
            const long long Value = std::stoll(DTS);
            if (LastDTS.count(Stream) && Value <= LastDTS[Stream])
                Faults +=
                    "stream " + Index + " DTS " + DTS + " after " + std::to_string(LastDTS[Stream]) + "\n";
            LastDTS[Stream] = Value;
        }
        if (PTS != "N/A" && !PTS.empty() && !SeenPTS[Stream].insert(std::stoll(PTS)).second)
            Faults += "stream " + Index + " PTS " + PTS + " repeats\n";
    }
    return Faults;
}

} // namespace vantrel::test
