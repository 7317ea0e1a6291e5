// Preparing the simulated tester host: its registry tree, written through
// the registrars, and the server configuration kept in it.
#pragma once

#include <tester/portselector.h>
#include <tester/testcontroller.h>

#include <string>
#include <vector>

namespace kessim {

// The application the simulator plays, its plug-ins (one per component),
// and where the simulated server keeps its configuration.
extern const char* const kApplication;
extern const char* const kPlugins[3];
extern const char* const kServerKey;  // below HKEY_LOCAL_MACHINE

struct SetupResult {
    std::vector<std::string> lines;  // what was prepared, for the report
    int failures = 0;                // steps that did not work
};

// Writes the tree: the tester root, the application's parameters, its
// plug-ins (each an application of its own), its published interfaces and
// the interfaces of the port type the simulated ports have; then reads each
// part back through the registrars and reports what it found.
SetupResult PrepareRegistry(int ports, double seconds, const std::string& rootDirectory);

// Saves the default configuration of `ports` ports and of a timed test into
// the registry, then configures both servers from what was stored there.
SetupResult ConfigureServers(int ports, double seconds, tester::PortSelector& selector,
                             tester::TestController& controller);

}  // namespace kessim
