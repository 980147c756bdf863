// A whole join of one or two arbitrary inputs. The first byte picks the mode
// (re-stamping on, off, video only) and where the data splits into two files.
#include "FuzzSupport.h"
#include "join/Vantrel.h"
#include "media/SysUtils.h"

using namespace vantrel;

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
    }
    return 0;
}
