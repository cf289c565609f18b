// Runs the tests of a mask the way the GUI runner does from one window: discovers them
// once through the bridge, runs every one, refreshes the host tables (which resets the
// procedure container) and runs them all again. Writes one line per test and run,
// "<path>: pass" or "<path>: <class>: <message>", and "reset" between the runs.
//
// The host library resolves USER from its own directory, so the probe only tells the
// truth when it runs from the EXE directory of the installation under test.

#include "bridge/HostTables.h"
#include "bridge/WexelAdapter.h"
#include "bridge/WexelCaller.h"
#include "platform/SysUtils.h"

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: wexel_reset_probe MASK\n";
        return 2;
    }
    try {
        Wexel::TWexelAdapter adapter(argv[1], "");
        if (!adapter.Ready) {
            std::cerr << adapter.ErrorText << "\n";
            return 1;
        }
        std::vector<std::string> paths;
        std::istringstream listing(adapter.Caller->FindTests(adapter.FileMask));
        for (std::string line; std::getline(listing, line);)
            paths.push_back(line);

        for (int round = 0; round < 2; ++round) {
            if (round > 0) {
                Wexel::RefreshHostTables();
                std::cout << "reset\n";
            }
            for (const std::string& path : paths) {
                try {
                    adapter.RunTest(path);
                    std::cout << path << ": pass\n";
                } catch (const std::exception& e) {
                    std::cout << path << ": " << Sys::ExceptionClassName(e) << ": " << e.what() << "\n";
                }
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "Error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
