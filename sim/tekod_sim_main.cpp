// tekod-sim: runs the TEKO daemon on a recorded stream (see --help).
#include <cstdio>
#include <string>

#include "SimOptions.h"
#include "Simulator.h"

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!options.Parse(argc, argv, error)) {
        fprintf(stderr, "tekod-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        fputs(SimOptions::Usage(), stdout);
        return 0;
    }
    if (options.list) return Simulator::List(options);
    Simulator simulator(options);
    if (simulator.Prepare(error) != 0) {
        fprintf(stderr, "tekod-sim: %s\n", error.c_str());
        return 2;
    }
    return simulator.Run();
}
