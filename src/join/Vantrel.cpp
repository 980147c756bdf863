#include "Vantrel.h"

#include "media/MPEG1SysRead.h"
#include "media/MPEGInfo.h"
#include "media/SysUtils.h"

#include <unistd.h>

namespace vantrel {

void TVantrel::Execute()
{
    std::unique_ptr<TProgressSink> Progress = CreateProgress ? CreateProgress() : nullptr;
    m_Progress = Progress.get();
    struct TForget
    {
        TProgressSink*& Sink;
        ~TForget() { Sink = nullptr; }
    } Forget{m_Progress};
    if (m_Progress) {
        m_Progress->SetCaption("Joining...");
        m_Progress->SetText("The selected file is being joined. Please wait...");
        m_Progress->Show();
    }
    Join();
}

void TVantrel::Join()
{
    m_Cancelled = false;
    m_TimeCorrector.Reset(FrameRate);
    CalcTotalSize();
    m_ProcessedSize = 0;
    // Creating the output truncates it: never do that to one of the inputs.
    RefuseOutputThatIsAnInput();

    TFileStream Output(OutputFileName, TFileStream::TMode::Create);
    for (std::size_t I = 0; I < FileNames.size(); ++I) {
        if (PollCancelled())
            break;
        if (GetMediaFileKind(FileNames[I]) == mfkSystemStream)
            JoinSystemStream(I, Output);
        else
            CopyFile(I, Output);
    }
    Output.Close();
}

void TVantrel::RefuseOutputThatIsAnInput() const
{
    for (const std::string& Name : FileNames)
        if (SameFile(Name, OutputFileName))
            throw Exception("The output file cannot be one of the input files.");
}

void TVantrel::CalcTotalSize()
{
    m_TotalSize = 0;
    for (const std::string& Name : FileNames) {
        TFileHandle File = TFileHandle::TryOpenRead(Name);
        if (!File.IsOpen())
            continue;
        const off_t Size = ::lseek(File.Get(), 0, SEEK_END);
        if (Size > 0)
            m_TotalSize += Size;
    }
    if (m_TotalSize == 0)
        m_TotalSize = 1;
}

bool TVantrel::PollCancelled()
{
    if (!m_Cancelled && m_Progress && m_Progress->IsCancelled())
        m_Cancelled = true;
    return m_Cancelled;
}

bool TVantrel::ReportProgress(std::int64_t Bytes)
{
    m_ProcessedSize += Bytes;
    if (!m_Progress)
        return false;
    m_Progress->SetPosition(static_cast<std::int32_t>(m_ProcessedSize * 100 / m_TotalSize));
    return PollCancelled();
}

std::optional<std::int64_t> TVantrel::SmallestFirstPTS(const std::string& FileName) const
{
    TMPEG1SystemReader Reader;
    Reader.Open(FileName);
    std::optional<std::int64_t> Smallest;
    for (int I = 0; I < LookAheadPackets && Reader.NextPacket(); ++I)
        if (Reader.PacketKind() == pkPES && Reader.PES().HasPTS &&
            (!Smallest || Reader.PES().PTS < *Smallest))
            Smallest = Reader.PES().PTS;
    return Smallest;
}

void TVantrel::JoinSystemStream(std::size_t Index, TFileStream& Output)
{
    const bool Restamp = RecalcTimecodes && !VideoOnly;
    m_TimeCorrector.BeginFile(Restamp ? SmallestFirstPTS(FileNames[Index]) : std::nullopt);

    TMPEG1SystemReader Reader;
    Reader.Open(FileNames[Index], ReadWindowSize);
    std::vector<std::uint8_t> Buffer;
    auto Fill = [&Buffer](std::size_t Size) {
        if (Buffer.size() < Size)
            Buffer.resize(Size);
        return Buffer.data();
    };
    // Packets and payloads passed on unchanged are read straight into the
    // output's buffer.
    auto Pass = [&](std::uint32_t Length, auto Read) {
        if (std::uint8_t* Room = Output.Claim(Length)) {
            try {
                (Reader.*Read)(Room);
            } catch (...) {
                Output.Unclaim(Length); // never leave unfilled bytes behind
                throw;
            }
        } else {
            (Reader.*Read)(Fill(Length));
            Output.Write(Buffer.data(), Length);
        }
    };
    auto CopyPacket = [&] { Pass(Reader.PacketLength(), &TMPEG1SystemReader::ReadPacket); };

    while (Reader.NextPacket()) {
        if (ReportProgress(Reader.PacketLength()))
            break;
        const TPacketKind Kind = Reader.PacketKind();
        const TPESInfo& PES = Reader.PES();
        // A header that runs past its own packet leaves no sound payload: such
        // a packet, and private stream 2 whose data is not parsed, must be
        // copied whole rather than rebuilt from a payload.
        const bool Rebuildable = Kind == pkPES && PES.StreamId != PrivateStream2 && Reader.PESHeaderFits();

        if (VideoOnly) {
            if (Kind == pkPES && PES.StreamId == FirstVideoStream && Rebuildable)
                Pass(PES.PayloadLength, &TMPEG1SystemReader::ReadPayload);
        } else if (Kind == pkSystemHeader) {
            // The joined stream keeps the first file's system header only.
            if (Index == 0)
                CopyPacket();
        } else if (!Restamp) {
            CopyPacket();
        } else if (Kind == pkPackHeader) {
            m_TimeCorrector.WritePackHeader(Output, Reader.SCR(), Reader.MuxRate());
        } else if (Rebuildable) {
            Reader.ReadPayload(Fill(PES.PayloadLength));
            m_TimeCorrector.WritePESPacket(Output, PES, Buffer.data(), PES.PayloadLength);
        } else {
            CopyPacket();
        }
    }
}

void TVantrel::CopyFile(std::size_t Index, TFileStream& Output)
{
    TFileStream Input(FileNames[Index], TFileStream::TMode::Read);
    std::uint8_t Buffer[CopyChunkSize];
    for (;;) {
        const std::size_t N = Input.Read(Buffer, sizeof Buffer);
        Output.Write(Buffer, N);
        if (ReportProgress(static_cast<std::int64_t>(N)) || N != sizeof Buffer)
            break;
    }
}

} // namespace vantrel
