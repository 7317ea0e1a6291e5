// kesreg: the registry store from the command line.
//
// Options are recognised by their exact names only (/v, -v, --value, ...), so
// that a file path such as /tmp/x.reg is taken as an argument, not an option;
// "--" ends the options.
#include "commands.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using kesreg::kExitOk;
using kesreg::kExitUsage;

const char kUsage[] =
    "Usage: kesreg COMMAND ARGUMENTS...\n"
    "\n"
    "Commands:\n"
    "  query KEY [/v NAME | /ve] [/s]          show values and subkeys (/s: every key below)\n"
    "  add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s SEP] [/f]\n"
    "                                          create KEY, and write a value (/f: replace)\n"
    "  delete KEY [/v NAME | /ve | /va] [/f]   delete a value, all values (/va) or the key\n"
    "                                          (a key with subkeys only with /f)\n"
    "  export KEY FILE [/y]                    write KEY and its tree to a .reg file\n"
    "                                          (/y: replace an existing file)\n"
    "  import FILE                             apply a .reg file\n"
    "  regserver MODULE.so                     call the module's DllRegisterServer\n"
    "  unregserver MODULE.so                   call the module's DllUnregisterServer\n"
    "\n"
    "KEY is HKLM\\path, HKEY_LOCAL_MACHINE\\path, HKCR\\path or HKEY_CLASSES_ROOT\\path.\n"
    "TYPE is REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
    "REG_BINARY or REG_NONE. DWORD and QWORD data are decimal or 0x hexadecimal;\n"
    "binary data is hexadecimal digit pairs; REG_MULTI_SZ strings are separated by\n"
    "SEP (default: the two characters \\0).\n"
    "\n"
    "Long forms: --value NAME, --default (/ve), --all-values (/va), --type, --data,\n"
    "--separator, --recursive (/s of query), --force (/f), --yes (/y), --help.\n"
    "The store is registry.db in $KES_HOME (else $XDG_STATE_HOME/kes, else\n"
    "~/.local/state/kes).\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad usage.\n";

// An option: its spellings and whether it takes a value.
struct option_spec {
    const char* key;  // the name used below
    bool takes_value;
    std::vector<const char*> spellings;
};

bool same_ignoring_case(const char* a, const char* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a + 32) : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b + 32) : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

struct parsed_args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // flags map to ""
    bool has(const char* key) const { return options.count(key) != 0; }
};

int usage(const std::string& message) {
    std::fprintf(stderr, "kesreg: error: %s\nTry 'kesreg --help'.\n", message.c_str());
    return kExitUsage;
}

// Splits arguments into positional ones and the options that `specs` allow.
bool parse_args(int argc, char** argv, int first, const std::vector<option_spec>& specs,
                parsed_args* out, std::string* problem) {
    bool options_done = false;
    for (int i = first; i < argc; ++i) {
        const char* arg = argv[i];
        if (!options_done && std::strcmp(arg, "--") == 0) {
            options_done = true;
            continue;
        }
        const option_spec* match = nullptr;
        if (!options_done) {
            for (const option_spec& spec : specs) {
                for (const char* spelling : spec.spellings) {
                    if (same_ignoring_case(arg, spelling))
                        match = &spec;
                }
            }
        }
        if (match == nullptr) {
            if (!options_done && arg[0] == '-' && arg[1] != 0) {
                *problem = std::string("unknown option '") + arg + "'";
                return false;
            }
            out->positional.push_back(arg);
            continue;
        }
        if (out->has(match->key)) {
            *problem = std::string("option '") + arg + "' given twice";
            return false;
        }
        std::string value;
        if (match->takes_value) {
            if (i + 1 >= argc) {
                *problem = std::string("option '") + arg + "' needs a value";
                return false;
            }
            value = argv[++i];
        }
        out->options[match->key] = value;
    }
    return true;
}

bool key_argument(const std::string& text, kesreg::key_path* path, std::string* problem) {
    kesreg::wstring wide;
    if (!kesreg::from_utf8(text, &wide)) {
        *problem = "the key path is not valid UTF-8";
        return false;
    }
    return kesreg::parse_key_path(wide, path, problem);
}

// The value chosen by /v, /ve and (where allowed) /va; at most one of them.
bool value_argument(const parsed_args& args, kesreg::value_choice* value, std::string* problem) {
    int chosen = args.has("v") + args.has("ve") + args.has("va");
    if (chosen > 1) {
        *problem = "choose one of /v, /ve and /va";
        return false;
    }
    if (args.has("v")) {
        value->kind = kesreg::value_choice::named;
        if (!kesreg::from_utf8(args.options.at("v"), &value->name)) {
            *problem = "the value name is not valid UTF-8";
            return false;
        }
        if (value->name.empty())
            value->kind = kesreg::value_choice::default_value;
    } else if (args.has("ve")) {
        value->kind = kesreg::value_choice::default_value;
    } else if (args.has("va")) {
        value->kind = kesreg::value_choice::all;
    }
    return true;
}

const option_spec kValue{"v", true, {"/v", "-v", "--value"}};
const option_spec kDefault{"ve", false, {"/ve", "-ve", "--default"}};
const option_spec kAllValues{"va", false, {"/va", "-va", "--all-values"}};
const option_spec kForce{"f", false, {"/f", "-f", "--force"}};

int run(int argc, char** argv) {
    if (argc < 2)
        return usage("no command given");
    std::string command = argv[1];
    for (const char* help : {"--help", "-h", "/?", "help"}) {
        if (same_ignoring_case(command.c_str(), help)) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
    }

    std::vector<option_spec> specs;
    std::size_t positional = 1;
    if (command == "query") {
        specs = {kValue, kDefault, {"s", false, {"/s", "-s", "--recursive"}}};
    } else if (command == "add") {
        specs = {kValue,
                 kDefault,
                 kForce,
                 {"t", true, {"/t", "-t", "--type"}},
                 {"d", true, {"/d", "-d", "--data"}},
                 {"s", true, {"/s", "-s", "--separator"}}};
    } else if (command == "delete") {
        specs = {kValue, kDefault, kAllValues, kForce};
    } else if (command == "export") {
        specs = {{"y", false, {"/y", "-y", "--yes"}}};
        positional = 2;
    } else if (command != "import" && command != "regserver" && command != "unregserver") {
        return usage("unknown command '" + command + "'");
    }
    specs.push_back({"help", false, {"--help", "-h", "/?"}});

    parsed_args args;
    std::string problem;
    if (!parse_args(argc, argv, 2, specs, &args, &problem))
        return usage(problem);
    if (args.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (args.positional.size() != positional) {
        return usage(command + " takes " + (positional == 1 ? "one argument" : "two arguments"));
    }
    if (command == "import")
        return kesreg::import_file(args.positional[0]);
    if (command == "regserver")
        return kesreg::run_server_entry(args.positional[0], false);
    if (command == "unregserver")
        return kesreg::run_server_entry(args.positional[0], true);

    kesreg::key_path path;
    if (!key_argument(args.positional[0], &path, &problem))
        return usage(problem);
    if (command == "export")
        return kesreg::export_tree(path, args.positional[1], args.has("y"));

    kesreg::value_choice value;
    if (!value_argument(args, &value, &problem))
        return usage(problem);
    if (command == "query")
        return kesreg::query(path, value, args.has("s"));
    if (command == "delete")
        return kesreg::remove(path, value, args.has("f"));
    std::optional<std::string> data;
    if (args.has("d"))
        data = args.options.at("d");
    std::string type = args.has("t") ? args.options.at("t") : "REG_SZ";
    std::string separator = args.has("s") ? args.options.at("s") : "\\0";
    return kesreg::add(path, value, type, data, separator, args.has("f"));
}

}  // namespace

int main(int argc, char** argv) {
    return run(argc, argv);
}
