// The fixture of the malformed-input tests: the real command-line tool run
// on files made in a temporary folder, each input checked unchanged after.
#pragma once

#include "JoinSupport.h"
#include "io/SysUtils.h"
#include "join/Joiner.h"

#include "StreamChecks.h"
#include "TestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vantrel::test {

struct TRun
{
    int Status;
    std::string Said;
};

inline TRun RunCli(const std::string& Arguments)
{
    TRun Run;
    // A hang is a failure too: no case here takes more than a few seconds.
    Run.Status =
        RunCommand("timeout 120 " + std::string(VANTREL_CLI) + " " + Arguments + " </dev/null", &Run.Said);
    return Run;
}

// A hash of the whole file, eight bytes a step: inputs may be gigabytes.
inline std::uint64_t Digest(const std::string& Name)
{
    std::ifstream File(Name, std::ios::binary);
    std::uint64_t Hash = 1469598103934665603ULL;
    std::vector<std::uint64_t> Block(1 << 17);
    std::streamsize N;
    while (File.read(reinterpret_cast<char*>(Block.data()), static_cast<std::streamsize>(Block.size() * 8)),
           (N = File.gcount()) > 0) {
        Block.resize(static_cast<std::size_t>(N + 7) / 8); // a short last block keeps zeros after its end
        for (std::uint64_t Word : Block)
            Hash = (Hash ^ Word) * 1099511628211ULL;
        Hash ^= static_cast<std::uint64_t>(N);
        Block.assign(1 << 17, 0);
    }
    return Hash;
}

inline std::int64_t FreeBytes(const std::string& Folder)
{
    struct statvfs Fs
    {
    };
    return ::statvfs(Folder.c_str(), &Fs) == 0 ? static_cast<std::int64_t>(Fs.f_bavail) * Fs.f_frsize : 0;
}

inline std::string Files(std::initializer_list<const char*> Names)
{
    std::string Result;
    for (const char* Name : Names)
        Result += " " + Quote(Stream(Name));
    return Result;
}

class MalformedInput : public ::testing::Test
{
protected:
    std::string Put(const std::string& Name, const TBytes& Bytes)
    {
        WriteFile(Dir.File(Name), Bytes);
        return Dir.File(Name);
    }
    // Joins Inputs into Output; checks that no input changed and, with
    // CheckDecode, that a reported output of inputs that decode cleanly
    // decodes cleanly.
    TRun Join(const std::vector<std::string>& Inputs, const std::string& Options = "",
              std::string Output = "", bool CheckDecode = true)
    {
        if (Output.empty())
            Output = Dir.File("out.mpg");
        std::string Args = "join " + Options + " -o " + Quote(Output);
        std::vector<std::uint64_t> Before;
        for (const std::string& Input : Inputs) {
            Args += " " + Quote(Input);
            Before.push_back(Digest(Input));
        }
        const TRun Run = RunCli(Args);
        EXPECT_TRUE(Run.Status == 0 || Run.Status == 1) << Args << "\n" << Run.Said;
        for (std::size_t I = 0; I < Inputs.size(); ++I)
            EXPECT_EQ(Digest(Inputs[I]), Before[I]) << Inputs[I] << " changed";
        if (Run.Status == 0 && Output != "/dev/full" && CheckDecode) {
            bool InputErrors = false;
            for (const std::string& Input : Inputs)
                InputErrors = InputErrors || !DecodeErrors(Input).empty();
            if (!InputErrors) {
                EXPECT_EQ(DecodeErrors(Output), "") << Args;
            }
        }
        return Run;
    }
    TTempDir Dir;
};

// A file of clips that then runs on in zeros for a long while: a sparse
// file, so it takes no room.
inline std::string ClipThenZeros(const std::string& Name, std::int64_t Zeros)
{
    WriteFile(Name, ReadFile(Stream("ff_pal.mpg")));
    EXPECT_EQ(::truncate(Name.c_str(), static_cast<off_t>(Zeros)), 0);
    return Name;
}

} // namespace vantrel::test
