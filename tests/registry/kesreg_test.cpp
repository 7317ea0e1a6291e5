// The kesreg tool, run as a child process on the test's store.
#include <host/com.h>
#include <host/guidtext.h>
#include <host/oleauto.h>
#include <tester/interfaces.h>

#include "server/test_server.h"
#include "support.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace regtest {
namespace {

struct outcome {
    int status = -1;
    std::string output;  // standard output and error together
};

outcome kesreg(const std::vector<std::string>& args) {
    int fds[2];
    outcome result;
    if (pipe(fds) != 0)
        return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        std::string program = KESREG_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything below `key`: "path|name" -> type and bytes, plus one entry per key.
using tree_dump = std::map<std::string, std::pair<DWORD, std::vector<BYTE>>>;

std::string hex_units(const host::wstring& text) {
    std::ostringstream out;
    for (WCHAR unit : text)
        out << std::hex << unit << '.';
    return out.str();
}

void dump(HKEY key, const std::string& path, tree_dump* out) {
    (*out)[path] = {0xFFFFFFFFu, {}};
    for (DWORD index = 0;; ++index) {
        WCHAR name[16384];
        DWORD units = 16384;
        DWORD type = 0;
        BYTE data[4096];
        DWORD size = sizeof data;
        LSTATUS status = RegEnumValueW(key, index, name, &units, nullptr, &type, data, &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        (*out)[path + "|" + hex_units(host::wstring(name, units))] = {
            type, std::vector<BYTE>(data, data + size)};
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD units = 256;
        LSTATUS status =
            RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        HKEY child = nullptr;
        ASSERT_EQ(RegOpenKeyExW(key, name, 0, KEY_READ, &child), ERROR_SUCCESS);
        dump(child, path + "\\" + hex_units(host::wstring(name, units)), out);
        RegCloseKey(child);
    }
}

class Kesreg : public FreshStore {
  protected:
    tree_dump dump_of(const std::string& path) {
        tree_dump result;
        HKEY key = open(HKEY_LOCAL_MACHINE, path, KEY_READ);
        if (key != nullptr)
            dump(key, path, &result);
        return result;
    }

    static LSTATUS set(HKEY key, const host::wstring& name, DWORD type, std::vector<BYTE> bytes) {
        return RegSetValueExW(key, name.c_str(), 0, type, bytes.data(),
                              static_cast<DWORD>(bytes.size()));
    }
};

TEST_F(Kesreg, ExportThenImportReproducesATreeExactly) {
    HKEY top = create("SOFTWARE\\Round");
    HKEY deep = create("SOFTWARE\\Round\\A\\B\\C");
    create("SOFTWARE\\Round\\Empty");
    HKEY odd = create("SOFTWARE\\Round\\Br]acket [x]");
    HKEY unicode = nullptr;
    ASSERT_EQ(RegCreateKeyExW(top, w(u"Gr\u00FC\u00DFe \u65E5\u672C").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &unicode, nullptr),
              ERROR_SUCCESS);
    std::vector<BYTE> wide_text = sz_bytes(w(u"caf\u00E9 \U0001F600"));
    ASSERT_EQ(set(top, w(""), REG_SZ, sz_bytes(w("default"))), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("quote\"and\\slash"), REG_SZ, sz_bytes(w("C:\\dir\\\"x\""))),
              ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("dword"), REG_DWORD, {0x0A, 0, 0, 0x80}), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("short dword"), REG_DWORD, {1, 2}), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("qword"), REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("multi"), REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}),
              ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("expand"), REG_EXPAND_SZ, sz_bytes(w("%HOME%\\x"))), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("empty sz"), REG_SZ, {}), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("odd sz"), REG_SZ, {'a', 0, 'b'}), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("unterminated"), REG_SZ, {'a', 0, 'b', 0}), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("inner nul"), REG_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0}), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("line break"), REG_SZ, sz_bytes(w("one\r\ntwo"))), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("none"), REG_NONE, {}), ERROR_SUCCESS);
    ASSERT_EQ(set(top, w("custom type"), 0x4000, {1}), ERROR_SUCCESS);
    std::vector<BYTE> big(1000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i);
    ASSERT_EQ(set(deep, w("binary"), REG_BINARY, big), ERROR_SUCCESS);
    ASSERT_EQ(set(unicode, w(u"\u00E9t\u00E9"), REG_SZ, wide_text), ERROR_SUCCESS);
    ASSERT_EQ(set(odd, w("="), REG_SZ, sz_bytes(w("=\"]"))), ERROR_SUCCESS);
    tree_dump before = dump_of("SOFTWARE\\Round");
    ASSERT_GT(before.size(), 20u);

    std::string file = home() + "/round.reg";
    outcome exported = kesreg({"export", "HKLM\\SOFTWARE\\Round", file});
    ASSERT_EQ(exported.status, 0) << exported.output;
    std::string bytes = read_file(file);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));  // UTF-16LE with a BOM
    EXPECT_NE(bytes.find(std::string("\r\0\n\0", 4)), std::string::npos);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] == '\n' && bytes[i + 1] == 0) {
            ASSERT_EQ(bytes.substr(i - 2, 2), std::string("\r\0", 2)) << "bare LF at " << i;
        }
    }

    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Round").c_str()), ERROR_SUCCESS);
    EXPECT_TRUE(dump_of("SOFTWARE\\Round").empty());
    outcome imported = kesreg({"import", file});
    ASSERT_EQ(imported.status, 0) << imported.output;
    EXPECT_EQ(dump_of("SOFTWARE\\Round"), before);
}

TEST_F(Kesreg, ImportTakesHandWrittenUtf8WithContinuationsAndDeletions) {
    HKEY old = create("SOFTWARE\\Hand\\Old\\Inner");
    HKEY keep = create("SOFTWARE\\Hand\\Keep");
    ASSERT_EQ(set_dword(keep, w("drop"), 1), ERROR_SUCCESS);
    ASSERT_EQ(set_dword(old, w("x"), 1), ERROR_SUCCESS);
    std::string file = home() + "/hand.reg";
    write_file(file,
               "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
               "\n"
               "; a comment\n"
               "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Hand\\Old]\n"
               "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Hand\\NeverThere]\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hand\\Keep]\n"
               "\"drop\"=-\n"
               "\"gone too\"=-\n"
               "[hklm\\SOFTWARE\\Hand\\New]  \n"
               "@=\"d\u00E9faut\"\n"
               "\"n\" = dword:A\n"
               "\"bin\"=hex:01,02,\\\n"
               "    03 , 04\n"
               "\"exp\"=hex(2):25,00,41,00,25,00,00,00\n"
               "\"multi\"=hex(7):61,00,00,00,00,00\n"
               "\"q\"=hex(b):ff,00,00,00,00,00,00,01\n"
               "\"empty\"=hex:\n");
    outcome result = kesreg({"import", file});
    ASSERT_EQ(result.status, 0) << result.output;

    LSTATUS status;
    HKEY gone = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hand\\Old", KEY_READ, &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(gone, nullptr);
    DWORD type = 0;
    get(keep, w("drop"), &type, &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);

    HKEY made = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hand\\New", KEY_READ);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(get(made, w(""), &type, &status), sz_bytes(w(u"d\u00E9faut")));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(get(made, w("n"), &type, &status), (std::vector<BYTE>{10, 0, 0, 0}));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(get(made, w("bin"), &type, &status), (std::vector<BYTE>{1, 2, 3, 4}));
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(get(made, w("exp"), &type, &status), sz_bytes(w("%A%")));
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(get(made, w("multi"), &type, &status), (std::vector<BYTE>{'a', 0, 0, 0, 0, 0}));
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(get(made, w("q"), &type, &status), (std::vector<BYTE>{0xFF, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(type, REG_QWORD);
    EXPECT_TRUE(get(made, w("empty"), &type, &status).empty());
    EXPECT_EQ(status, ERROR_SUCCESS);
}

TEST_F(Kesreg, MalformedFilesAreRefusedWholeAndNameTheirLine) {
    const std::string header = "Windows Registry Editor Version 5.00\r\n";
    const std::string first = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\MustNotAppear]\r\n\"ok\"=dword:1\r\n";
    struct bad_file {
        std::string text;
        std::string says;
    } files[] = {
        {"REGEDIT4\r\n" + first, "line 1"},
        {"", "empty"},
        {header + first + "\"v\"=\"C:\\path\"\r\n", "line 4: unsupported escape"},
        {header + first + "\"v\"=\"open\r\n", "line 4: unterminated"},
        {header + first + "\"v\"=\"x\" junk\r\n", "line 4"},
        {header + first + "\"v\"=dword:123456789\r\n", "line 4: dword"},
        {header + first + "\"v\"=dword:12g\r\n", "line 4"},
        {header + first + "\"v\"=hex:1,2,300\r\n", "line 4: bad byte"},
        {header + first + "\"v\"=hex:01,02,\r\n", "line 4: bad byte"},
        {header + first + "\"v\"=hex(zz):01\r\n", "line 4: hex(N)"},
        {header + first + "\"v\"=hex:01,\\", "ends inside"},
        {header + first + "\"v\"=sz:abc\r\n", "line 4: unrecognised"},
        {header + first + "\"v\"\r\n", "line 4: expected '='"},
        {header + first + "[HKEY_CURRENT_USER\\X]\r\n", "line 4: unknown root"},
        {header + first + "[HKEY_LOCAL_MACHINE\\X\r\n", "line 4"},
        {header + first + "[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", "line 4: the key path has an empty"},
        {header + first + "text\r\n", "line 4"},
        {header + "\"early\"=dword:1\r\n", "line 2: a value before"},
        {header + first + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n\"v\"=dword:1\r\n",
         "line 5: a value below"},
        {header + first + "\"bad\xC3\x28\"=dword:1\r\n", "UTF-8"},
        {std::string("\xFE\xFF\0W", 4), "big-endian"},
        {std::string("\xFF\xFEW", 3), "odd length"},
    };
    std::string file = home() + "/bad.reg";
    for (const bad_file& bad : files) {
        write_file(file, bad.text);
        outcome result = kesreg({"import", file});
        EXPECT_EQ(result.status, 1) << bad.says;
        EXPECT_NE(result.output.find(bad.says), std::string::npos)
            << "expected '" << bad.says << "' in: " << result.output;
        EXPECT_NE(result.output.find("nothing was imported"), std::string::npos) << result.output;
        LSTATUS status;
        open(HKEY_LOCAL_MACHINE, "SOFTWARE\\MustNotAppear", KEY_READ, &status);
        EXPECT_EQ(status, ERROR_FILE_NOT_FOUND) << bad.says;
    }
    EXPECT_EQ(kesreg({"import", home() + "/missing.reg"}).status, 1);
}

TEST_F(Kesreg, AddQueryAndDeleteFromTheCommandLine) {
    EXPECT_EQ(
        kesreg({"add", "HKLM\\SOFTWARE\\Cli", "/v", "Count", "/t", "REG_DWORD", "/d", "5"}).status,
        0);
    outcome again =
        kesreg({"add", "HKLM\\SOFTWARE\\Cli", "/v", "count", "/t", "REG_DWORD", "/d", "6"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.output.find("/f"), std::string::npos);
    EXPECT_EQ(kesreg({"add", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cli", "/v", "Count", "/t", "reg_dword",
                      "/d", "0x10", "/f"})
                  .status,
              0);
    EXPECT_EQ(kesreg({"add", "HKLM\\SOFTWARE\\Cli", "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a,b",
                      "/s", ","})
                  .status,
              0);
    EXPECT_EQ(kesreg({"add", "HKLM\\SOFTWARE\\Cli\\Sub", "/ve", "/d", "text"}).status, 0);

    HKEY key = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Cli", KEY_READ);
    ASSERT_NE(key, nullptr);
    LSTATUS status;
    DWORD type = 0;
    EXPECT_EQ(get(key, w("Count"), &type, &status), (std::vector<BYTE>{0x10, 0, 0, 0}));
    EXPECT_EQ(get(key, w("List"), &type, &status),
              (std::vector<BYTE>{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));

    outcome shown = kesreg({"query", "HKLM\\SOFTWARE\\Cli", "/s"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.output.find("    Count    REG_DWORD    0x10\n"), std::string::npos)
        << shown.output;
    EXPECT_NE(shown.output.find("    List    REG_MULTI_SZ    a\\0b\n"), std::string::npos);
    EXPECT_NE(shown.output.find("    (Default)    REG_SZ    text\n"), std::string::npos);
    EXPECT_EQ(kesreg({"query", "HKLM\\SOFTWARE\\Cli", "/v", "Missing"}).status, 1);

    EXPECT_EQ(kesreg({"delete", "HKLM\\SOFTWARE\\Cli", "/v", "Count"}).status, 0);
    get(key, w("Count"), &type, &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(kesreg({"delete", "HKLM\\SOFTWARE\\Cli"}).status, 1);  // it has a subkey
    EXPECT_EQ(kesreg({"delete", "HKLM\\SOFTWARE\\Cli", "/f"}).status, 0);
    EXPECT_EQ(kesreg({"query", "HKLM\\SOFTWARE\\Cli"}).status, 1);
}

TEST_F(Kesreg, BadUsageExitsWithStatusTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"query"},
        {"query", "HKLM\\SOFTWARE", "extra"},
        {"query", "HKCU\\Software"},
        {"query", "SOFTWARE\\X"},
        {"query", "HKLM\\SOFTWARE", "--bogus"},
        {"add", "HKLM\\SOFTWARE\\X", "/v"},
        {"add", "HKLM\\SOFTWARE\\X", "/v", "a", "/ve"},
        {"add", "HKLM\\SOFTWARE\\X", "/v", "a", "/v", "b"},
        {"add", "HKLM\\SOFTWARE\\X", "/v", "a", "/t", "REG_WHATEVER"},
        {"add", "HKLM\\SOFTWARE\\X", "/v", "a", "/t", "REG_DWORD", "/d", "12abc"},
        {"add", "HKLM\\SOFTWARE\\X", "/v", "a", "/t", "REG_DWORD", "/d", "-1"},
        {"add", "HKLM\\SOFTWARE\\X", "/v", "a", "/t", "REG_QWORD", "/d", "18446744073709551616"},
        {"add", "HKLM\\SOFTWARE\\X", "/v", "a", "/t", "REG_BINARY", "/d", "abc"},
        {"add", "HKLM\\SOFTWARE\\X", "/v", "a", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
        {"add", "HKLM\\SOFTWARE\\X", "/d", "data without a name"},
        {"export", "HKLM\\SOFTWARE"},
        {"import"},
        {"regserver"},
    };
    for (const std::vector<std::string>& args : bad) {
        outcome result = kesreg(args);
        std::string joined;
        for (const std::string& arg : args)
            joined += arg + " ";
        EXPECT_EQ(result.status, 2) << joined << "\n" << result.output;
        EXPECT_NE(result.output.find("kesreg: error: "), std::string::npos) << joined;
    }
    // Nothing was created by the refused adds.
    LSTATUS status;
    open(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", KEY_READ, &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);

    outcome help = kesreg({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("Usage: kesreg"), std::string::npos);
    EXPECT_EQ(kesreg({"query", "/?"}).status, 0);
}

TEST_F(Kesreg, ExportDoesNotReplaceAFileUnlessAsked) {
    create("SOFTWARE\\Exp");
    std::string file = home() + "/exp.reg";
    write_file(file, "keep me");
    EXPECT_EQ(kesreg({"export", "HKLM\\SOFTWARE\\Exp", file}).status, 1);
    EXPECT_EQ(read_file(file), "keep me");
    EXPECT_EQ(kesreg({"export", "HKLM\\SOFTWARE\\Exp", file, "/y"}).status, 0);
    EXPECT_NE(read_file(file), "keep me");
    EXPECT_EQ(kesreg({"export", "HKLM\\SOFTWARE\\Missing", home() + "/no.reg"}).status, 1);
}

TEST_F(Kesreg, RegserverAndUnregserverCallTheModulesEntryPoints) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    outcome registered = kesreg({"regserver", TEST_SERVER_PATH});
    ASSERT_EQ(registered.status, 0) << registered.output;
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    if (object != nullptr)
        object->Release();

    outcome unregistered = kesreg({"unregserver", TEST_SERVER_PATH});
    ASSERT_EQ(unregistered.status, 0) << unregistered.output;
    EXPECT_EQ(CoCreateInstance(CLSID_TestProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();

    outcome missing = kesreg({"regserver", home() + "/absent.so"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("cannot load"), std::string::npos) << missing.output;
    outcome notServer = kesreg({"regserver", "libc.so.6"});
    EXPECT_EQ(notServer.status, 1);
    EXPECT_NE(notServer.output.find("has no DllRegisterServer"), std::string::npos);
}

// The tester library registered by an operator, then created by COM in a
// process that has never loaded it: the registry names it, COM loads it with
// dlopen and its DllGetClassObject serves the error-message server.
TEST_F(Kesreg, RegisteredTesterLibraryServesTheErrorServerThroughTheRegistry) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    IDovErrorLookup* lookup = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_DovErrorLookup, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDovErrorLookup, reinterpret_cast<void**>(&lookup)),
              REGDB_E_CLASSNOTREG);

    // Registered by a bare file name from the library's directory: the
    // registration must still hold the absolute path.
    const std::filesystem::path library = std::filesystem::canonical(KESTESTER_PATH);
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(library.parent_path());
    outcome registered = kesreg({"regserver", library.filename().string()});
    std::filesystem::current_path(here);
    ASSERT_EQ(registered.status, 0) << registered.output;

    WCHAR guid[39];
    StringFromGUID2(CLSID_DovErrorLookup, guid, 39);
    HKEY server = open(HKEY_CLASSES_ROOT, "CLSID\\" + narrow(guid) + "\\InprocServer32", KEY_READ);
    ASSERT_NE(server, nullptr);
    DWORD type = 0;
    LSTATUS status = 0;
    EXPECT_EQ(get(server, w(""), &type, &status), sz_bytes(w(library.string())));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(get(server, w("ThreadingModel"), &type, &status), sz_bytes(w("Both")));

    ASSERT_EQ(CoCreateInstance(CLSID_DovErrorLookup, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDovErrorLookup, reinterpret_cast<void**>(&lookup)),
              S_OK);
    ASSERT_NE(lookup, nullptr);
    BSTR message = nullptr;
    EXPECT_EQ(lookup->LookupMessage(static_cast<LONG>(0x8004020Au), &message), S_OK);
    EXPECT_EQ(narrow(host::wstring(message, SysStringLen(message))),
              "The value or name was not found.\r\n");
    SysFreeString(message);
    lookup->Release();

    // The class object refuses classes it does not serve and aggregation.
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_DovErrorLookup, CLSCTX_INPROC_SERVER, nullptr,
                               IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                      reinterpret_cast<void**>(&object)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    factory->Release();
    // COM has loaded the library into this process.
    void* loaded = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(loaded, nullptr);
    auto entry =
        reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(dlsym(loaded, "DllGetClassObject"));
    ASSERT_NE(entry, nullptr);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(entry(CLSID_TestProbe, IID_IClassFactory, &other), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(other, nullptr);
    dlclose(loaded);

    outcome unregistered = kesreg({"unregserver", library.string()});
    ASSERT_EQ(unregistered.status, 0) << unregistered.output;
    LSTATUS gone = 0;
    EXPECT_EQ(open(HKEY_CLASSES_ROOT, "CLSID\\" + narrow(guid), KEY_READ, &gone), nullptr);
    EXPECT_EQ(gone, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CoCreateInstance(CLSID_DovErrorLookup, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDovErrorLookup, reinterpret_cast<void**>(&lookup)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
}

}  // namespace
}  // namespace regtest
