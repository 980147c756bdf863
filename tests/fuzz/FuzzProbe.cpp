// The file probe over arbitrary contents in memory, VCD sectors included.
#include "io/SectorTrack.h"
#include "io/SysUtils.h"
#include "probe/JoinRules.h"
#include "probe/MPEGInfo.h"
#include "probe/MediaJson.h"
#include "probe/MediaText.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    TMemorySource File(Data, Size);
    const std::unique_ptr<TByteSource> Track = OpenSectorTrack(File);
    TMediaInfo Info;
    try {
        ProbeMediaFile(Track ? *Track : File, Info);
        CompareMediaInfo(Info, Info);
        DifferenceText(Info, Info);
        AudioText(Info);
        TransportText(Info);
        InfoJson("f", Info, Info);
    } catch (const Exception&) {
    }
    return 0;
}
