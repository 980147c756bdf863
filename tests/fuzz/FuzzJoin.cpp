// A whole join of one or two arbitrary inputs. The first byte picks the mode
// (re-stamping on, off, video only) and where the data splits into two files.
//
// A join moves files in time and changes nothing else: walked packet by
// packet, the output is its inputs one after the other, apart from time stamp
// bytes and pack rates, system headers (kept, raised, or turned into padding
// of the same length), packs that hold nothing but such fillers (left out
// while a file catches up with its clock), video end codes (zeros inside the
// output) and the broken-link flag of groups of pictures, and what stands
// between packets. A file that continues the one before joins with it as
// their bytes one after the other would.
#include "FuzzSupport.h"
#include "JoinSupport.h"
#include "io/InputFile.h"
#include "io/SysUtils.h"
#include "join/Joiner.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/ProgramStreamReader.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace vantrel;

namespace {

using TPacketBytes = std::vector<std::uint8_t>;

// Packs of fillers only are left out. Packets before a file's first pack
// header belong to the pack before them, the last one of the file before.
std::vector<TPacketBytes> WithoutFillerPacks(const std::vector<TPacketBytes>& Packets)
{
    std::vector<TPacketBytes> Result;
    std::size_t PackStart = 0;
    bool FillersOnly = false;
    auto EndPack = [&] {
        if (FillersOnly)
            Result.resize(PackStart);
    };
    for (const TPacketBytes& Packet : Packets) {
        const bool IsPack = Packet.size() == 12 && Packet[3] == PackStartCode;
        if (IsPack) {
            EndPack();
            PackStart = Result.size();
            FillersOnly = true;
        } else if (Packet[0] != PaddingStream) {
            FillersOnly = false;
        }
        Result.push_back(Packet);
    }
    EndPack();
    return Result;
}

// The packets of a stream with their time stamp bytes cleared and fillers
// reduced to their length.
std::vector<TPacketBytes> Normalized(TByteSource& Source)
{
    std::vector<TPacketBytes> Packets;
    TProgramStreamReader Reader;
    Reader.Open(Source);
    while (Reader.NextPacket()) {
        TPacketBytes Packet(Reader.PacketLength());
        Reader.ReadPacket(Packet.data());
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() == pkPackHeader) {
            std::fill_n(Packet.begin() + SCRFieldOffset, TimeStampLength + 3, 0); // and the rate
        } else if (Reader.PacketKind() == pkSystemHeader ||
                   (Reader.PacketKind() == pkPES && PES.StreamId == PaddingStream)) {
            Packet = {0xBE, static_cast<std::uint8_t>(Packet.size() >> 8),
                      static_cast<std::uint8_t>(Packet.size())};
        } else {
            if (PES.StreamId != PrivateStream2 && Reader.PESHeaderFits()) {
                const std::size_t Payload =
                    static_cast<std::size_t>(PES.PayloadPosition - Reader.PacketPosition());
                const std::size_t Stamps = (PES.HasDTS ? 2 : PES.HasPTS ? 1 : 0) * TimeStampLength;
                std::fill(Packet.begin() + static_cast<long>(Payload - Stamps),
                          Packet.begin() + static_cast<long>(Payload), 0);
                if (IsVideoStream(PES.StreamId))
                    for (std::size_t I = Payload; I + 4 <= Packet.size(); ++I)
                        if (Packet[I] == 0 && Packet[I + 1] == 0 && Packet[I + 2] == 1) {
                            if (Packet[I + 3] == SequenceEndCode)
                                Packet[I + 2] = Packet[I + 3] = 0;
                            else if (Packet[I + 3] == GroupStartCode && I + 8 <= Packet.size())
                                Packet[I + 7] &= 0xDF;
                        }
            }
        }
        Packets.push_back(std::move(Packet));
    }
    return Packets;
}

std::vector<TPacketBytes> NormalizedFile(const std::string& Name)
{
    TInputFile File(Name);
    return Normalized(File.Source());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    if (Size < 2)
        return 0;
    const std::uint8_t Control = Data[0];
    ++Data, --Size;
    const std::size_t Split = (Control & 0x08) ? Size * (Control >> 4) / 16 : Size;
    fuzz::TFuzzFile First(Data, Split);
    fuzz::TFuzzFile Second(Data + Split, Size - Split);
    fuzz::TFuzzFile Output(nullptr, 0);

    TJoiner Joiner;
    std::vector<std::string> Names = {First.Name};
    if (Split < Size)
        Names.push_back(Second.Name);
    Joiner.Inputs = test::MeasuredInputs(Names);
    Joiner.OutputFileName = Output.Name;
    // A throw-away output: nothing of it needs to reach a disk.
    Joiner.CreateOutput = [](const std::string& Name) {
        auto File = std::make_unique<TOutputFile>(Name);
        File->Durable = false;
        return File;
    };
    Joiner.FrameRate = (Control & 0x04) ? 29.97 : 25;
    Joiner.RecalcTimecodes = (Control & 0x01) != 0;
    Joiner.VideoOnly = (Control & 0x02) != 0;
    try {
        Joiner.Execute();
    } catch (const Exception&) {
        return 0;
    }
    if (Joiner.VideoOnly)
        return 0;
    std::vector<TPacketBytes> Expected;
    for (const std::string& Name : Names) {
        // Only system streams are walked; anything else is copied as it is.
        if (GetMediaFileKind(Name) != mfkSystemStream)
            return 0;
        const std::vector<TPacketBytes> Packets = NormalizedFile(Name);
        Expected.insert(Expected.end(), Packets.begin(), Packets.end());
    }
    Expected = WithoutFillerPacks(Expected);
    std::vector<TPacketBytes> Got = WithoutFillerPacks(NormalizedFile(Output.Name));
    if (Joiner.Plan().Files.size() > 1 && Joiner.Plan().Files[1].Continues) {
        // The packets of the two files' bytes one after the other, by kind
        // and length: inside a packet that runs on into the second file, the
        // second file's own headers may have changed as in any join.
        TMemorySource Both(Data, Size);
        Expected = WithoutFillerPacks(Normalized(Both));
        for (std::vector<TPacketBytes>* Packets : {&Expected, &Got})
            for (TPacketBytes& Packet : *Packets)
                Packet = {Packet.size() > 3 ? Packet[3] : Packet[0], static_cast<std::uint8_t>(Packet.size()),
                          static_cast<std::uint8_t>(Packet.size() >> 8)};
    }
    if (Got != Expected) {
        // Where they part, for whoever reruns a crash.
        std::size_t I = 0;
        while (I < Got.size() && I < Expected.size() && Got[I] == Expected[I])
            ++I;
        std::fprintf(
            stderr, "packet %zu of %zu differs from %zu expected (first bytes %02x %02x vs %02x %02x)\n", I,
            Got.size(), Expected.size(), I < Got.size() ? Got[I][0] : 0,
            I < Got.size() && Got[I].size() > 3 ? Got[I][3] : 0, I < Expected.size() ? Expected[I][0] : 0,
            I < Expected.size() && Expected[I].size() > 3 ? Expected[I][3] : 0);
        std::abort();
    }
    return 0;
}
