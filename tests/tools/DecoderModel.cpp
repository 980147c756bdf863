// Runs the test suite's decoder model over system streams and prints its
// verdict per file: for measuring joins by hand and in scripts/bench. A
// transport stream gets the suite's transport check instead: the DVB
// measurement guidelines' first and second priority and its decoder model.
// With --join OUT IN..., it judges OUT as the join of the INs: the packets it
// kept and left out, and the units late and the overflows against the
// inputs' own.
#include "StreamChecks.h"
#include "TestSupport.h"
#include "TransportCheck.h"
#include "TransportSupport.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int Argc, char** Argv)
{
    using namespace vantrel::test;
    if (Argc > 3 && std::string(Argv[1]) == "--join") {
        const TBytes Out = ReadFile(Argv[2]);
        std::vector<TBytes> Inputs;
        int Late = 0, Overflows = 0;
        for (int I = 3; I < Argc; ++I) {
            Inputs.push_back(ReadFile(Argv[I]));
            const TDecoderModelCheck Model = CheckDecoderModel(Inputs.back());
            Late += Model.Late, Overflows += Model.Overflows;
        }
        const TPacketsKept Kept = CheckPacketsKept(Inputs, Out);
        const TDecoderModelCheck Model = CheckDecoderModel(Out);
        std::printf("%d packets kept, %d packs of padding left out%s%s; %d of %d units late (inputs %d), "
                    "%d overflows (inputs %d), worst late %.3f s\n",
                    Kept.Packets, Kept.DroppedPacks, Kept.Faults.empty() ? "" : "; FAULT: ", Kept.Faults.c_str(),
                    Model.Late, Model.Units, Late, Model.Overflows, Overflows, Model.WorstLate);
        return Kept.Faults.empty() ? 0 : 1;
    }
    for (int I = 1; I < Argc; ++I) {
        const TBytes File = ReadFile(Argv[I]);
        // A program stream begins with a start code; a 192-byte transport
        // packet's arrival stamp may begin with a zero byte too.
        const bool StartCode = File.size() >= 3 && File[0] == 0 && File[1] == 0 && File[2] == 1;
        if (!StartCode && FindLayout(File)) {
            const TTransportCheck Check = CheckTransport(File);
            std::printf("%s: %s: %s\n", Argv[I], Check.Clean() ? "clean" : "faults", Check.Text().c_str());
            continue;
        }
        const TDecoderModelCheck Model = CheckDecoderModel(File);
        std::printf("%s: %s\n", Argv[I], Model.Text().c_str());
        if (const TNavigationCheck Navigation = CheckNavigation(File); Navigation.Count)
            std::printf("  %d navigation packs with times%s%s", Navigation.Count,
                        Navigation.Faults.empty() ? ", all borne out\n" : ":\n", Navigation.Faults.c_str());
    }
    return 0;
}
