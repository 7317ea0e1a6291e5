// kessim: plays a tester host on this machine.
//
// It prepares the tester's registry tree through the registrars, starts the
// simulated tester server, publishes its port selector and test controller,
// records a test session, and runs three components on their own threads
// that follow the server's events through observers and notifiers. A short
// scripted test (ports reserved, added and removed, the session suspended
// and resumed, the clock reset, the test stopped) drives them; two of the
// steps make components raise errors, which reach the console and the event
// log. At the end it prints what happened and where to look.
#include "components.h"
#include "events.h"
#include "setup.h"
#include "text.h"

#include <host/com.h>
#include <host/store.h>
#include <kes/application/kesportselector.h>
#include <kes/application/kestestcontroller.h>
#include <kes/application/kestestsession.h>
#include <kes/error/keserror.h>
#include <kes/error/keslog.h>
#include <tester/errorserver.h>
#include <tester/portselector.h>
#include <tester/testcontroller.h>
#include <tester/testsession.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr LONG kSessionNumber = 7;
constexpr int kMinPorts = 2;  // the script reserves two ports
constexpr int kMaxPorts = 256;
constexpr double kMaxSeconds = 3600;

const char kUsage[] =
    "Usage: kessim [OPTION]...\n"
    "Play a tester host: prepare the registry, start the simulated tester\n"
    "server, run components that follow its events, and report.\n"
    "\n"
    "  -p, --ports N         simulated ports, 2 to 256 (default 8)\n"
    "  -t, --run-time SECS   how long the scripted test takes, 0.1 to 3600\n"
    "                        seconds, fractions allowed (default 3)\n"
    "      --fatal           end with a fatal error (exit status 255)\n"
    "  -h, --help            show this help and exit\n"
    "\n"
    "The registry and the event log are the stores in $KES_HOME (else\n"
    "$XDG_STATE_HOME/kes, else ~/.local/state/kes). Raised errors are logged\n"
    "(DOV_LOG_ERRORS is set for the run); the console goes to\n"
    "kessim-console.log in the store unless PEL_CONSOLE names a file.\n"
    "\n"
    "Exit status: 0 when every step and check passed, 1 when one failed,\n"
    "2 for bad arguments, 255 after --fatal.\n";

struct Options {
    int ports = 8;
    double seconds = 3;
    bool fatal = false;
};

bool ParseNumber(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    errno = 0;
    double parsed = std::strtod(text, &end);
    if (end == text || *end != 0 || errno != 0 || !(parsed >= low && parsed <= high))
        return false;
    value = parsed;
    return true;
}

// Returns 0 to run, 2 after a bad argument, -1 after --help.
int ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return -1;
        }
        if (arg == "--fatal") {
            options.fatal = true;
            continue;
        }
        const bool ports = arg == "-p" || arg == "--ports";
        const bool time = arg == "-t" || arg == "--run-time";
        if (!ports && !time) {
            std::cerr << "kessim: unknown option '" << arg << "'\n"
                      << "Try 'kessim --help'.\n";
            return 2;
        }
        if (i + 1 == argc) {
            std::cerr << "kessim: " << arg << " needs a value\n";
            return 2;
        }
        const char* value = argv[++i];
        double number = 0;
        if (ports) {
            if (!ParseNumber(value, kMinPorts, kMaxPorts, number) ||
                number != static_cast<int>(number)) {
                std::cerr << "kessim: --ports takes a whole number from " << kMinPorts << " to "
                          << kMaxPorts << ", not '" << value << "'\n";
                return 2;
            }
            options.ports = static_cast<int>(number);
        } else {
            if (!ParseNumber(value, 0.1, kMaxSeconds, number)) {
                std::cerr << "kessim: --run-time takes seconds from 0.1 to " << kMaxSeconds
                          << ", not '" << value << "'\n";
                return 2;
            }
            options.seconds = number;
        }
    }
    return 0;
}

// "2026-12-07 04:10:11.123", UTC, as keslog --since reads it.
std::string UtcNow() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(millis.count()));
    return text;
}

// The directory this program lives in, to name its sibling tools.
std::string OwnDirectory() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return std::string();
    std::string text(path, static_cast<std::size_t>(length));
    return text.substr(0, text.rfind('/'));
}

std::string Tool(const std::string& directory, const char* name) {
    std::string path = directory + "/" + name;
    return !directory.empty() && access(path.c_str(), X_OK) == 0 ? path : std::string(name);
}

void LogInfo(const std::string& text) {
    std::ostream& stream = KesMakeErrorStream();
    stream << text;
    KesLogEvent(EVENTLOG_INFORMATION_TYPE, stream);
}

// The run: everything the simulator made and what it saw.
class Simulation {
  public:
    explicit Simulation(const Options& options) : m_Options(options) {}

    int Run();

  private:
    struct Step {
        const char* what;
        std::function<bool()> action;
    };

    bool StartServer();
    void StartComponents();
    void PlayScript();
    void StopAll();
    int Report();
    std::vector<Step> Script();

    void Line(const std::string& text) { m_Out << text << '\n'; }
    void Fail(const std::string& text) {
        ++m_Failures;
        Line("  FAILED: " + text);
    }

    Options m_Options;
    std::ostringstream m_Out;
    int m_Failures = 0;
    std::string m_Started;
    Clock::time_point m_Start;

    host::ComPtr<tester::PortSelector> m_Selector;
    host::ComPtr<tester::TestController> m_Controller;
    host::ComPtr<tester::TestSession> m_Session;

    // The hub outlives the bridge's and the components' subscriptions.
    kessim::EventHub m_Hub;
    host::ComPtr<kessim::EventBridge> m_Bridge;
    // The main thread's proxies; they bind at their first use.
    CKesPortSelector m_SelectorProxy;
    CKesTestController m_ControllerProxy;
    CKesTestSession m_SessionProxy;
    bool m_Subscribed = false;  // the bridge's subscriptions were made
    std::vector<std::unique_ptr<kessim::Component>> m_Components;
    std::vector<std::string> m_Timeline;
};

bool Simulation::StartServer() {
    Line("Tester server");
    m_Selector = host::make_com<tester::PortSelector>();
    m_Controller = host::make_com<tester::TestController>();
    m_Session = host::make_com<tester::TestSession>(kSessionNumber);
    kessim::SetupResult servers =
        kessim::ConfigureServers(m_Options.ports, m_Options.seconds, *m_Selector, *m_Controller);
    for (const std::string& line : servers.lines)
        Line("  " + line);
    m_Failures += servers.failures;

    if (FAILED(tester::RegisterErrorServer()))
        Fail("the error-message server could not be registered");
    else
        Line("  error-message server registered (CoCreateInstance finds it)");

    if (CKesPortSelector::Globalize(m_Selector.get()) != S_OK ||
        CKesTestController::Globalize(m_Controller.get()) != S_OK) {
        Fail("the port selector or the test controller could not be published");
        return false;
    }
    Line("  port selector and test controller published");
    CKesTestSession::Record(m_Session.get());
    Line("  test session " + std::to_string(kSessionNumber) + " recorded");

    m_Bridge = host::make_com<kessim::EventBridge>(m_Hub);
    m_Subscribed = true;
    const bool advised = m_SelectorProxy.Advise(m_Bridge.get()) == 0 &&
                         m_SelectorProxy.AdviseOnGuardEvents(m_Bridge.get()) == 0 &&
                         m_ControllerProxy.Advise(m_Bridge.get()) == 0 &&
                         m_SessionProxy.AdviseOnGuardEvents(m_Bridge.get()) == 0;
    if (!advised) {
        Fail("the event bridge could not subscribe to every connection point");
        return false;
    }
    Line("  event bridge subscribed to 4 connection points");
    return true;
}

void Simulation::StartComponents() {
    m_Components.push_back(std::make_unique<kessim::PortMonitor>(m_Hub));
    m_Components.push_back(std::make_unique<kessim::TestWatcher>(m_Hub));
    m_Components.push_back(std::make_unique<kessim::Auditor>(m_Hub));
    m_Components[0]->Start(static_cast<int>(CKesThread::PRIORITY_NORMAL));
    m_Components[1]->Start(static_cast<int>(CKesThread::PRIORITY_NORMAL));
    // Lowering a priority needs no privilege; raising one may.
    m_Components[2]->Start(static_cast<int>(CKesThread::PRIORITY_LOW));
}

std::vector<Simulation::Step> Simulation::Script() {
    const LONG first = 101;
    const LONG second = 102;
    const LONG added = 101 + m_Options.ports;
    tester::PortConfig extra;
    extra.handle = added;
    extra.number = m_Options.ports + 1;
    extra.label = "P" + std::to_string(extra.number);
    extra.name = kessim::Wide("Spare port " + std::to_string(extra.number));
    extra.module = 11 + m_Options.ports / 2;
    extra.cpu = 1 + m_Options.ports / 4;
    extra.portType = 11;

    std::vector<Step> steps;
    steps.push_back({"test started", [this] { return m_Controller->Start() == S_OK; }});
    steps.push_back({"two ports reserved by the session", [=] {
                         return m_Selector->ReservePort(first, kSessionNumber) == S_OK &&
                                m_Selector->ReservePort(second, kSessionNumber) == S_OK;
                     }});
    steps.push_back({"a spare port added", [=] { return m_Selector->AddPort(extra) == S_OK; }});
    steps.push_back({"session suspended", [this] { return m_Session->FireSuspended() == 1; }});
    steps.push_back({"mapping set while suspended: first port served by the spare", [=] {
                         std::list<host::wstring> mapping;
                         mapping.push_back(
                             kessim::Wide(std::to_string(first) + " " + std::to_string(added)));
                         return m_SelectorProxy.SetPortMapping(mapping) == 0;
                     }});
    steps.push_back({"a reserved port removed while suspended",
                     [=] { return m_Selector->RemovePort(second) == S_OK; }});
    steps.push_back({"session resumed", [this] { return m_Session->FireResumed() == 1; }});
    steps.push_back({"timestamps reset through the proxy",
                     [this] { return m_ControllerProxy.ResetTimestamps() == 0; }});
    steps.push_back({"configuration file made read-only through the proxy",
                     [this] { return m_SelectorProxy.SetConfigFileReadOnlyMode(1) == 0; }});
    steps.push_back(
        {"first port released", [=] { return m_Selector->ReleasePort(first) == S_OK; }});
    steps.push_back({"test stopped", [this] { return m_Controller->Stop() == S_OK; }});
    steps.push_back({"session closing", [this] { return m_Session->FireClosing() == 1; }});
    return steps;
}

void Simulation::PlayScript() {
    std::vector<Step> steps = Script();
    const auto pause = std::chrono::duration<double>(m_Options.seconds / steps.size());
    for (Step& step : steps) {
        std::this_thread::sleep_for(pause);
        const bool ok = step.action();
        const double at = std::chrono::duration<double>(Clock::now() - m_Start).count();
        std::ostringstream line;
        line << std::fixed << std::setprecision(2) << std::setw(7) << at << " s  " << step.what;
        if (!ok) {
            line << "  (FAILED)";
            ++m_Failures;
        }
        m_Timeline.push_back(line.str());
    }
}

// Components first (they use the proxies), then subscriptions, then the
// publication, so nothing is used after it is withdrawn.
void Simulation::StopAll() {
    for (auto& component : m_Components)
        component->Finish();
    if (m_Subscribed) {
        m_SelectorProxy.Unadvise();
        m_SelectorProxy.UnadviseOnGuardEvents();
        m_ControllerProxy.Unadvise();
        m_SessionProxy.UnadviseOnGuardEvents();
    }
    CKesPortSelector::Unglobalize();
    CKesTestController::Unglobalize();
}

int Simulation::Report() {
    Line("");
    Line("Timeline");
    for (const std::string& line : m_Timeline)
        Line(line);

    Line("");
    Line("Events from the server: " + std::to_string(m_Bridge->Received()));
    for (std::size_t i = 0; i < kessim::EVENT_KIND_COUNT; ++i) {
        auto kind = static_cast<kessim::EventKind>(i);
        if (m_Bridge->Received(kind) != 0)
            Line("  " + std::to_string(m_Bridge->Received(kind)) + "  " + kessim::EventName(kind));
    }

    Line("");
    Line("Components");
    LONG errors = 0;
    for (auto& component : m_Components) {
        errors += component->ErrorsRaised();
        Line("  " + component->Name() + ": " + std::to_string(component->Handled()) +
             " notifications");
        for (const std::string& note : component->Notes())
            Line("    " + note);
    }
    kessim::Component& monitor = *m_Components[0];
    kessim::Component& auditor = *m_Components[2];
    bool agree = true;
    for (std::size_t i = 0; i < kessim::EVENT_KIND_COUNT; ++i) {
        auto kind = static_cast<kessim::EventKind>(i);
        if (kind != kessim::EventKind::ConfigurationChanged)
            agree = agree && auditor.Handled(kind) == m_Bridge->Received(kind);
    }
    if (agree)
        Line("  auditor saw each of the server's " + std::to_string(m_Bridge->Received()) +
             " events once");
    else
        Fail("the auditor's counts differ from the events the server sent");
    // The added port settles the configuration at once; the mapping and the
    // removal are held while the session is suspended and replayed after.
    const LONG settled = monitor.Handled(kessim::EventKind::ConfigurationChanged);
    if (settled == 3)
        Line("  configuration settled 3 times: once at once, twice held back until resumed");
    else
        Fail("configuration settled " + std::to_string(settled) + " times, expected 3");

    Line("");
    Line("Errors raised: " + std::to_string(errors) +
         " (console and event log, with the prefix \"Session " + std::to_string(kSessionNumber) +
         ": \")");
    if (errors != 2)
        Fail("expected 2 raised errors");

    const std::string tools = OwnDirectory();
    Line("");
    Line("Where to look");
    Line("  " + Tool(tools, "keslog") + " --since '" + m_Started + "'");
    Line("      the event-log records of this run (add --json for one object per line)");
    Line("  " + Tool(tools, "kesreg") + " query 'HKLM\\SOFTWARE\\Telmora\\Brontide' /s");
    Line("      the registry tree the run prepared");
    const char* console = std::getenv("PEL_CONSOLE");
    Line(std::string("  console: ") + (console != nullptr ? console : "standard error"));

    Line("");
    Line(m_Failures == 0 ? "Result: every step and check passed"
                         : "Result: " + std::to_string(m_Failures) + " step(s) or check(s) failed");
    std::cout << m_Out.str();
    std::cout.flush();
    return m_Failures == 0 ? 0 : 1;
}

int Simulation::Run() {
    m_Start = Clock::now();
    m_Started = UtcNow();
    const std::string store = host::store_directory();
    std::ostringstream title;
    title << "kessim: a simulated tester host with " << m_Options.ports
          << " ports, a scripted test of " << m_Options.seconds << " s";
    Line(title.str());
    Line("");
    Line("Store    " + (store.empty() ? std::string("(none: records are dropped)") : store));
    Line("Started  " + m_Started + " UTC");
    Line("");

    Line("Registry (through the registrars)");
    const std::string root = store.empty() ? std::string("/tmp") : store + "/tester";
    mkdir(root.c_str(), 0700);
    kessim::SetupResult registry =
        kessim::PrepareRegistry(m_Options.ports, m_Options.seconds, root);
    for (const std::string& line : registry.lines)
        Line("  " + line);
    m_Failures += registry.failures;
    Line("");

    const bool served = StartServer();
    LogInfo("kessim started: " + std::to_string(m_Options.ports) + " ports");
    if (served) {
        StartComponents();
        PlayScript();
    }
    StopAll();
    LogInfo("kessim finished: " + std::to_string(m_Bridge ? m_Bridge->Received() : 0) +
            " events, " + std::to_string(m_Failures) + " failures");
    int status = 1;
    if (served)
        status = Report();
    else
        std::cout << m_Out.str();

    if (m_Options.fatal) {
        // A fatal exit flushes nothing: what is printed must be out first.
        std::cout.flush();
        std::fflush(stdout);
        std::ostream& stream = KesMakeErrorStream();
        stream << "kessim ends with the fatal error it was asked for";
        KesQuit(stream);  // tells the session's manager; ends the process
    }
    CKesTestSession::Remove();
    m_Components.clear();
    tester::RevokeErrorServer();
    return status;
}

// Console output goes to a file of this run unless the caller chose one;
// raised errors are logged so that keslog shows them.
void PrepareEnvironment() {
    setenv("DOV_LOG_ERRORS", "1", 0);
    if (std::getenv("PEL_CONSOLE") != nullptr)
        return;
    const std::string console = host::store_path("kessim-console.log");
    if (console.empty())
        return;
    std::ofstream(console, std::ios::trunc);
    setenv("PEL_CONSOLE", console.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int parsed = ParseOptions(argc, argv, options);
    if (parsed != 0)
        return parsed < 0 ? 0 : parsed;
    PrepareEnvironment();
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::cerr << "kessim: COM could not be entered\n";
        return 1;
    }
    int status = 0;
    {
        Simulation simulation(options);
        status = simulation.Run();
    }
    CoUninitialize();
    return status;
}
