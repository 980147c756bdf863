// A whole join of one or two arbitrary inputs. The first byte picks the mode
// (re-stamping on, off, video only) and where the data splits into two files.
//
// A join moves files in time and changes nothing else: walked packet by
// packet, the output is its inputs one after the other, apart from time stamp
// bytes, system headers (kept, raised, or turned into padding of the same
// length), packs that hold nothing but such fillers (left out while a file
// catches up with its clock), and what stands between packets.
#include "FuzzSupport.h"
#include "join/Vantrel.h"
#include "media/MPEG1SysRead.h"
#include "media/SysUtils.h"

#include <cstdlib>
#include <vector>

using namespace vantrel;

namespace {

using TPacket = std::vector<std::uint8_t>;

// The packets of a stream with their time stamp bytes cleared and fillers
// reduced to their length; packs of fillers only are left out.
std::vector<TPacket> Normalized(TByteSource& Source)
{
    std::vector<TPacket> Packets;
    TMPEG1SystemReader Reader;
    Reader.Open(Source);
    std::size_t PackStart = 0;
    bool FillersOnly = false;
    auto EndPack = [&] {
        if (FillersOnly)
            Packets.resize(PackStart);
    };
    while (Reader.NextPacket()) {
        TPacket Packet(Reader.PacketLength());
        Reader.ReadPacket(Packet.data());
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() == pkPackHeader) {
            EndPack();
            PackStart = Packets.size();
            FillersOnly = true;
            std::fill_n(Packet.begin() + SCRFieldOffset, TimeStampLength, 0);
        } else if (Reader.PacketKind() == pkSystemHeader ||
                   (Reader.PacketKind() == pkPES && PES.StreamId == PaddingStream)) {
            Packet = {0xBE, static_cast<std::uint8_t>(Packet.size() >> 8),
                      static_cast<std::uint8_t>(Packet.size())};
        } else {
            FillersOnly = false;
            if (PES.StreamId != PrivateStream2 && Reader.PESHeaderFits()) {
                const std::size_t Payload =
                    static_cast<std::size_t>(PES.PayloadPosition - Reader.PacketPosition());
                const std::size_t Stamps = (PES.HasDTS ? 2 : PES.HasPTS ? 1 : 0) * TimeStampLength;
                std::fill(Packet.begin() + static_cast<long>(Payload - Stamps),
                          Packet.begin() + static_cast<long>(Payload), 0);
            }
        }
        Packets.push_back(std::move(Packet));
    }
    EndPack();
    return Packets;
}

std::vector<TPacket> NormalizedFile(const std::string& Name)
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

    TVantrel Joiner;
    Joiner.FileNames = {First.Name};
    if (Split < Size)
        Joiner.FileNames.push_back(Second.Name);
    Joiner.OutputFileName = Output.Name;
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
    std::vector<TPacket> Expected;
    for (const std::string& Name : Joiner.FileNames) {
        // Only system streams are walked; anything else is copied as it is.
        if (GetMediaFileKind(Name) != mfkSystemStream)
            return 0;
        const std::vector<TPacket> Packets = NormalizedFile(Name);
        Expected.insert(Expected.end(), Packets.begin(), Packets.end());
    }
    if (NormalizedFile(Output.Name) != Expected)
        std::abort();
    return 0;
}
