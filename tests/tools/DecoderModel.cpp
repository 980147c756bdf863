// Runs the test suite's decoder model over system streams and prints its
// verdict per file: for measuring joins by hand and in scripts/bench. A
// transport stream gets the suite's transport check instead: the DVB
// measurement guidelines' first and second priority and its decoder model.
#include "StreamChecks.h"
#include "TestSupport.h"
#include "TransportCheck.h"
#include "TransportSupport.h"

#include <cstdio>

int main(int Argc, char** Argv)
{
    using namespace vantrel::test;
    for (int I = 1; I < Argc; ++I) {
        const TBytes File = ReadFile(Argv[I]);
        if (!File.empty() && File[0] != 0 && FindLayout(File)) {
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
