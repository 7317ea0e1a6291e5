#include "setup.h"
#include "text.h"

#include <host/com.h>
#include <host/registry.h>
#include <kes/registrar/kesenumerator.h>
#include <kes/registrar/kesinterfaceregistrar.h>
#include <kes/registrar/kesparameterregistrar.h>
#include <kes/registrar/kespluginregistrar.h>
#include <kes/registrar/kesregistrar.h>
#include <tester/dovtypes.h>
#include <tester/interfaces.h>

#include <cmath>
#include <list>
#include <string>

namespace kessim {

const char* const kApplication = "Workbench";
const char* const kPlugins[3] = {"PortMonitor", "TestWatcher", "Auditor"};
const char* const kServerKey = "SOFTWARE\\Telmora\\Brontide\\Applications\\Workbench\\Simulator";

namespace {

// Classes of the simulated server's objects, as the application publishes
// them, and one interface that every simulated port offers.
DEFINE_GUID(CLSID_SimPortSelector, 0x3E61B0C0, 0x92D4, 0x4A1F, 0xB6, 0x0E, 0x51, 0x7C, 0x2A, 0x94,
            0x0D, 0x31);
DEFINE_GUID(CLSID_SimTestController, 0x3E61B0C1, 0x92D4, 0x4A1F, 0xB6, 0x0E, 0x51, 0x7C, 0x2A, 0x94,
            0x0D, 0x31);
DEFINE_GUID(IID_ISimPortCounters, 0x3E61B0C2, 0x92D4, 0x4A1F, 0xB6, 0x0E, 0x51, 0x7C, 0x2A, 0x94,
            0x0D, 0x31);
DEFINE_GUID(CLSID_SimPortCounters, 0x3E61B0C3, 0x92D4, 0x4A1F, 0xB6, 0x0E, 0x51, 0x7C, 0x2A, 0x94,
            0x0D, 0x31);

// The port type of every simulated port (tester::DefaultPortSelectorConfig).
constexpr EDovPortType kPortType = DovPortGigabitEthernet;

void Check(SetupResult& result, bool ok, const std::string& line) {
    result.lines.push_back((ok ? "" : "FAILED: ") + line);
    if (!ok)
        ++result.failures;
}

// HKLM\SOFTWARE\Telmora\Brontide, value Root.
void WriteRoot(SetupResult& result, const std::string& directory) {
    CKesRegistrar registrar(HKEY_LOCAL_MACHINE);
    bool ok = registrar.OpenKey(OLESTR("SOFTWARE\\Telmora\\Brontide"), KesAccessCreate) == 0 &&
              registrar.SetValue(OLESTR("Root"), Wide(directory)) == 0;
    host::wstring root;
    ok = ok && CKesAppRoot::GetPath(root) == 0 && Narrow(root) == directory;
    Check(result, ok, "tester root: " + directory);
}

void WriteParameters(SetupResult& result, int ports, double seconds) {
    const ULONG milliseconds = static_cast<ULONG>(std::lround(seconds * 1000));
    {
        CKesParameterRegistrar parameters(kApplication, KesAccessCreate);
        parameters.SetValue(OLESTR("Ports"), static_cast<ULONG>(ports));
        parameters.SetValue(OLESTR("RunTime"), milliseconds);
        parameters.SetValue(OLESTR("Host"), OLESTR("kessim"));
    }
    CKesParameterRegistrar readBack(kApplication, KesAccessReadOnly);
    ULONG storedPorts = 0;
    ULONG storedTime = 0;
    bool ok = readBack.GetValue(OLESTR("Ports"), storedPorts) == 0 &&
              readBack.GetValue(OLESTR("RunTime"), storedTime) == 0 &&
              storedPorts == static_cast<ULONG>(ports) && storedTime == milliseconds;
    Check(result, ok,
          std::string("parameters of ") + kApplication + ": Ports = " + std::to_string(ports) +
              ", RunTime = " + std::to_string(milliseconds) + " ms, Host = kessim");
}

// Each plug-in is listed below the application and is an application of its
// own; the plug-in registrar counts only plug-ins that are both.
void WritePlugins(SetupResult& result) {
    for (const char* plugin : kPlugins) {
        CKesRegistrar listing;
        listing.OpenKey(Wide(std::string(kApplication) + "\\Plugins\\" + plugin), KesAccessCreate);
        CKesParameterRegistrar own(plugin, KesAccessCreate);
        own.SetValue(OLESTR("Component"), Wide(std::string("kessim ") + plugin));
    }
    CKesPluginRegistrar plugins;
    plugins.Open(kApplication);
    std::list<std::string> names;
    plugins.ListPluginNames(names);
    std::string line = "plug-ins:";
    for (const std::string& name : names)
        line += " " + name;
    bool ok = names.size() == sizeof(kPlugins) / sizeof(kPlugins[0]);
    for (const char* plugin : kPlugins)
        ok = ok && plugins.IsPluginRegistered(std::string(plugin));
    Check(result, ok, line);
}

void WriteInterfaces(SetupResult& result) {
    static const _TKesCommapEntry theServerMap[] = {
        {OLESTR("IIntPortSelector"), &IID_IIntPortSelector, &CLSID_SimPortSelector},
        {OLESTR("IIntTestController"), &IID_IIntTestController, &CLSID_SimTestController},
        {nullptr, nullptr, nullptr},
    };
    static const _TKesCommapEntry thePortMap[] = {
        {OLESTR("ISimPortCounters"), &IID_ISimPortCounters, &CLSID_SimPortCounters},
        {nullptr, nullptr, nullptr},
    };
    CKesInterfaceRegistrar application;
    application.Open(kApplication, KesAccessCreate);
    application.RegisterMap(theServerMap);
    std::list<std::string> names;
    application.ListInterfaceNames(names);
    application.Close();
    std::string line = "interfaces:";
    for (const std::string& name : names)
        line += " " + name;
    Check(result, names.size() == 2, line);

    CKesEnumeratorEDovPortType portTypes(theDovPortTypeTable);
    const std::string symbol = Narrow(portTypes.ToSymbol(kPortType));
    CKesInterfaceRegistrar port;
    port.Open(std::string(kApplication) + "\\Ports\\" + symbol, KesAccessCreate);
    port.RegisterMap(thePortMap);
    port.Close();
    bool ok = CKesInterfaceRegistrar().IsPortInterfaceSupported(kPortType, DovSessionWorkbench,
                                                                IID_ISimPortCounters) == 1;
    Check(result, ok, "port type " + symbol + " offers ISimPortCounters");
}

}  // namespace

SetupResult PrepareRegistry(int ports, double seconds, const std::string& rootDirectory) {
    SetupResult result;
    WriteRoot(result, rootDirectory);
    WriteParameters(result, ports, seconds);
    WritePlugins(result);
    WriteInterfaces(result);
    return result;
}

SetupResult ConfigureServers(int ports, double seconds, tester::PortSelector& selector,
                             tester::TestController& controller) {
    SetupResult result;
    const host::wstring selectorKey = Wide(std::string(kServerKey) + "\\PortSelector");
    const host::wstring controllerKey = Wide(std::string(kServerKey) + "\\TestController");

    auto stored = host::make_com<tester::PortSelector>(tester::DefaultPortSelectorConfig(ports));
    bool ok = stored->SaveToRegistry(HKEY_LOCAL_MACHINE, selectorKey) == S_OK &&
              selector.LoadFromRegistry(HKEY_LOCAL_MACHINE, selectorKey) == S_OK;
    LONG count = 0;
    ok = ok && selector.GetPortCount(&count) == S_OK && count == ports;
    Check(result, ok,
          "port selector: " + std::to_string(count) + " ports from HKLM\\" + kServerKey +
              "\\PortSelector");

    tester::TestControllerConfig timed;
    timed.mode = DovTestModeContinuous;
    timed.duration = static_cast<LONG>(std::ceil(seconds));
    timed.samplingInterval = 100;
    auto plan = host::make_com<tester::TestController>(timed);
    ok = plan->SaveToRegistry(HKEY_LOCAL_MACHINE, controllerKey) == S_OK &&
         controller.LoadFromRegistry(HKEY_LOCAL_MACHINE, controllerKey) == S_OK;
    Check(result, ok,
          "test controller: duration " + std::to_string(timed.duration) +
              " s, sampling every 100 ms, from HKLM\\" + kServerKey + "\\TestController");
    return result;
}

}  // namespace kessim
