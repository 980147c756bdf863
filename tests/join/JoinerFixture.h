// The joiner's own fixture: a join of small files made in a temporary
// folder, with a progress sink that remembers what it was told.
#pragma once

#include "join/Joiner.h"

#include "JoinSupport.h"
#include "TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace vantrel::test {

using namespace test;

// What the joiner told its progress sink, kept beyond the sink's life.
struct TProgressLog
{
    std::string Caption, Text;
    bool Shown = false;
    std::vector<std::int32_t> Positions;
    int Polls = 0;
    int CancelAtPoll = -1; // the poll (counted from 1) that answers true
};

class TLoggingProgress : public TProgressSink
{
public:
    explicit TLoggingProgress(TProgressLog& Log) : m_Log(Log) {}
    void SetCaption(const std::string& Text) override { m_Log.Caption = Text; }
    void SetText(const std::string& Text) override { m_Log.Text = Text; }
    void Show() override { m_Log.Shown = true; }
    void SetPosition(std::int32_t Percent) override { m_Log.Positions.push_back(Percent); }
    bool IsCancelled() override
    {
        ++m_Log.Polls;
        return m_Log.CancelAtPoll > 0 && m_Log.Polls >= m_Log.CancelAtPoll;
    }

private:
    TProgressLog& m_Log;
};

const TBytes ProgramEndCode = {0, 0, 1, 0xB9};

class JoinerTest : public ::testing::Test
{
protected:
    std::string Input(const std::string& Name, const TBytes& Bytes)
    {
        WriteFile(Dir.File(Name), Bytes);
        return Dir.File(Name);
    }
    // Runs a join of Files into out.mpg; returns the error message, if any.
    std::string JoinFiles(const std::vector<std::string>& Files, bool Recalc, bool VideoOnly = false,
                          const std::string& Output = "")
    {
        Joiner.Inputs = MeasuredInputs(Files);
        Joiner.OutputFileName = Output.empty() ? Dir.File("out.mpg") : Output;
        Joiner.RecalcTimecodes = Recalc;
        Joiner.VideoOnly = VideoOnly;
        if (Joiner.FrameRate == 0)
            Joiner.FrameRate = 25;
        Joiner.CreateProgress = [this] { return std::make_unique<TLoggingProgress>(Log); };
        try {
            Joiner.Execute();
        } catch (const Exception& E) {
            return E.what();
        }
        return "";
    }
    TBytes Output() { return ReadFile(Dir.File("out.mpg")); }
    static std::vector<std::string> FilesIn(const std::string& Folder)
    {
        std::vector<std::string> Names;
        for (const auto& Entry : std::filesystem::directory_iterator(Folder))
            Names.push_back(Entry.path().filename().string());
        std::sort(Names.begin(), Names.end());
        return Names;
    }

    TTempDir Dir;
    TJoiner Joiner;
    TProgressLog Log;
};

// Two small system streams in the shape real muxers write them.
const TBytes APack = PackHeader(1000, 2000), ASystem = SystemHeader(6),
             AVideo =
                 PESPacket(0xE0, Concat({{0x40, 0x20}, TimeStampField(3, 9000), TimeStampField(1, 5400)}),
                           Filled(40, 0xA1)),
             AAudio = PESPacket(0xC0, TimeStampField(2, 9000), Filled(30, 0xA2));
const TBytes BPack = PackHeader(500, 2000), BSystem = SystemHeader(9),
             BVideo = PESPacket(0xE0, Concat({{0xFF}, TimeStampField(2, 4000)}), Filled(20, 0xB1)),
             BVideo2 = PESPacket(0xE1, {0x0F}, Filled(10, 0xB2));
const TBytes FileA = Concat({APack, ASystem, AVideo, AAudio, ProgramEndCode});
const TBytes FileB = Concat({BPack, BSystem, BVideo, BVideo2, ProgramEndCode});

} // namespace vantrel::test
