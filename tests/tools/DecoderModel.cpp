// Runs the test suite's decoder model over system streams and prints its
// verdict per file: for measuring joins by hand and in scripts/bench.
#include "StreamChecks.h"
#include "TestSupport.h"

#include <cstdio>

int main(int Argc, char** Argv)
{
    using namespace vantrel::test;
    for (int I = 1; I < Argc; ++I) {
        const TBytes File = ReadFile(Argv[I]);
        const TDecoderModelCheck Model = CheckDecoderModel(File);
        std::printf("%s: %s\n", Argv[I], Model.Text().c_str());
        if (const TNavigationCheck Navigation = CheckNavigation(File); Navigation.Count)
            std::printf("  %d navigation packs with times%s%s", Navigation.Count,
                        Navigation.Faults.empty() ? ", all borne out\n" : ":\n", Navigation.Faults.c_str());
    }
    return 0;
}
