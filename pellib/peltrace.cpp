#include <pellib/peltrace.h>

#include <pellib/internal/patternslot.h>
#include <pellib/pelconsole.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace {

// What a selector names: a module of any component, one module of one
// component, or every module of a component (module "*"); component "*"
// with module "*" names everything.
struct Selector {
    std::string component;  // "*" for any
    std::string module;     // "*" for any
};

struct Rule {
    Selector selector;
    bool on;
};

// Every installed record and every rule so far. Never destroyed: modules may
// remove their records from their own static destructors, in any order
// relative to this library's.
struct Registry {
    std::mutex lock;
    std::vector<PelTrace_*> installed;      // guarded by lock
    std::vector<PelTrace_*> everInstalled;  // guarded by lock; gives stable numbers
    std::vector<Rule> calls;                // guarded by lock; pelTraceEnable in call order
    std::string warnedEnvironment;          // guarded by lock; PEL_TRACE already warned about
};

Registry& registry() {
    static Registry* theRegistry = new Registry();  // intentionally never freed
    return *theRegistry;
}

bool equal_ignoring_case(const std::string& a, const char* b) {
    if (b == nullptr)
        return false;
    std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) {
            return false;
        }
    }
    return true;
}

bool valid_name(const std::string& name) {
    if (name.empty())
        return false;
    return name.find_first_of(".=, \t") == std::string::npos;
}

// Parses "module", "component.module", "component.*" or "*".
bool parse_selector(const std::string& text, Selector& out) {
    if (text == "*") {
        out = {"*", "*"};
        return true;
    }
    std::size_t dot = text.find('.');
    if (dot == std::string::npos) {
        out = {"*", text};
        return valid_name(text);
    }
    out = {text.substr(0, dot), text.substr(dot + 1)};
    bool componentOk = out.component == "*" || valid_name(out.component);
    return componentOk && (out.module == "*" || valid_name(out.module));
}

bool matches(const Selector& s, const PelTrace_& pattern) {
    bool componentOk = s.component == "*" || equal_ignoring_case(s.component, pattern.component);
    bool moduleOk = s.module == "*" || equal_ignoring_case(s.module, pattern.module);
    return componentOk && moduleOk;
}

void apply(const Rule& rule, PelTrace_& pattern) {
    if (matches(rule.selector, pattern))
        pattern.enabled.store(rule.on ? -1 : 0);
}

bool parse_switch(const std::string& text, bool& on) {
    if (text == "on" || text == "1") {
        on = true;
        return true;
    }
    if (text == "off" || text == "0") {
        on = false;
        return true;
    }
    return false;
}

// The items of PEL_TRACE, in order; malformed ones are collected in `bad`.
std::vector<Rule> environment_rules(const char* text, std::vector<std::string>& bad) {
    std::vector<Rule> rules;
    std::string all = text == nullptr ? "" : text;
    std::size_t i = 0;
    while (i < all.size()) {
        std::size_t end = all.find_first_of(", \t", i);
        if (end == std::string::npos)
            end = all.size();
        std::string item = all.substr(i, end - i);
        i = end + 1;
        if (item.empty())
            continue;
        std::size_t eq = item.find('=');
        Rule rule;
        if (eq == std::string::npos || !parse_selector(item.substr(0, eq), rule.selector) ||
            !parse_switch(item.substr(eq + 1), rule.on)) {
            bad.push_back(item);
            continue;
        }
        rules.push_back(rule);
    }
    return rules;
}

void warn_malformed(const std::vector<std::string>& bad) {
    PelConsole console;
    for (const std::string& item : bad) {
        console << "pellib: ignoring malformed PEL_TRACE item \"" << item << "\"\n";
    }
}

int installation_number(Registry& r, PelTrace_* pattern) {
    auto it = std::find(r.everInstalled.begin(), r.everInstalled.end(), pattern);
    if (it == r.everInstalled.end()) {
        r.everInstalled.push_back(pattern);
        return static_cast<int>(r.everInstalled.size());
    }
    return static_cast<int>(it - r.everInstalled.begin()) + 1;
}

void write_prefix(std::ostream& stream, const PelTrace_* pattern) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03ld [%ld/%ld] ",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<long>(now.tv_nsec / 1000000),
                  static_cast<long>(getpid()), static_cast<long>(syscall(SYS_gettid)));
    stream << text;
    if (pattern != nullptr)
        stream << pattern->component << ' ' << pattern->module << ": ";
}

}  // namespace

namespace pel {

int pattern_slot() {
    static const int theSlot = std::ios_base::xalloc();
    return theSlot;
}

}  // namespace pel

int pelTraceInstallPattern(PelTrace_& pattern) {
    std::vector<std::string> bad;
    std::vector<Rule> fromEnvironment;
    const char* environment = std::getenv("PEL_TRACE");
    fromEnvironment = environment_rules(environment, bad);
    Registry& r = registry();
    bool warn = false;
    int number = 0;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        number = installation_number(r, &pattern);
        if (std::find(r.installed.begin(), r.installed.end(), &pattern) != r.installed.end()) {
            return number;
        }
        r.installed.push_back(&pattern);
        for (const Rule& rule : fromEnvironment)
            apply(rule, pattern);
        for (const Rule& rule : r.calls)
            apply(rule, pattern);
        if (!bad.empty() && r.warnedEnvironment != environment) {
            r.warnedEnvironment = environment;
            warn = true;
        }
    }
    if (warn)
        warn_malformed(bad);  // outside the lock: the console takes its own path
    return number;
}

int pelTraceRemovePattern(PelTrace_& pattern) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = std::find(r.installed.begin(), r.installed.end(), &pattern);
    if (it == r.installed.end())
        return 0;
    r.installed.erase(it);
    return 1;
}

int pelTraceEnable(const char* selector, bool on) {
    Rule rule;
    rule.on = on;
    if (selector == nullptr || !parse_selector(selector, rule.selector))
        return -1;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    // A later rule with the same selector overrides an earlier one everywhere,
    // so only the latest is kept: the list stays as short as the set of
    // distinct selectors used.
    r.calls.erase(std::remove_if(r.calls.begin(), r.calls.end(),
                                 [&](const Rule& old) {
                                     return equal_ignoring_case(old.selector.component,
                                                                rule.selector.component.c_str()) &&
                                            equal_ignoring_case(old.selector.module,
                                                                rule.selector.module.c_str());
                                 }),
                  r.calls.end());
    r.calls.push_back(rule);
    int count = 0;
    for (PelTrace_* pattern : r.installed) {
        if (!matches(rule.selector, *pattern))
            continue;
        apply(rule, *pattern);
        ++count;
    }
    return count;
}

std::ostream& pelTraceExpression(std::ostream& stream) {
    const auto* pattern = static_cast<const PelTrace_*>(stream.pword(pel::pattern_slot()));
    write_prefix(stream, pattern);
    return stream;
}
