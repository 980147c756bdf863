// The file probe over arbitrary file contents.
#include "FuzzSupport.h"
#include "media/MPEGInfo.h"
#include "media/SysUtils.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    fuzz::TFuzzFile File(Data, Size);
    TMediaInfo Info;
    try {
        ProbeMediaFile(File.Name, Info);
        CompareMediaInfo(Info, Info);
    } catch (const Exception&) {
    }
    return 0;
}
