// The kesreg tool, run as a child process on the test's store.
#include <host/com.h>
#include <host/guidtext.h>
#include <host/oleauto.h>
#include <tester/interfaces.h>

#include "support.h"

#include <sys/wait.h>

#include <cstdio>

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

// Runs the tool through the shell with every argument quoted.
outcome kesreg(const std::vector<std::string>& args) {
    std::string command = KESREG_PATH;
    for (const std::string& arg : args) {
        command += " '";
        for (char c : arg)
            command += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += "'";
    }
    outcome result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    for (std::size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    int status = pipe != nullptr ? pclose(pipe) : -1;
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
    keep(unicode);
    std::vector<BYTE> big(1000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i);
    const struct {
        HKEY key;
        host::wstring name;
        DWORD type;
        std::vector<BYTE> bytes;
    } values[] = {
        {top, w(""), REG_SZ, sz_bytes(w("default"))},
        {top, w("quote\"and\\slash"), REG_SZ, sz_bytes(w("C:\\dir\\\"x\""))},
        {top, w("dword"), REG_DWORD, {0x0A, 0, 0, 0x80}},
        {top, w("short dword"), REG_DWORD, {1, 2}},
        {top, w("qword"), REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {top, w("multi"), REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {top, w("expand"), REG_EXPAND_SZ, sz_bytes(w("%HOME%\\x"))},
        {top, w("empty sz"), REG_SZ, {}},
        {top, w("odd sz"), REG_SZ, {'a', 0, 'b'}},
        {top, w("unterminated"), REG_SZ, {'a', 0, 'b', 0}},
        {top, w("inner nul"), REG_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0}},
        {top, w("line break"), REG_SZ, sz_bytes(w("one\r\ntwo"))},
        {top, w("none"), REG_NONE, {}},
        {top, w("custom type"), 0x4000, {1}},
        {deep, w("binary"), REG_BINARY, big},
        {unicode, w(u"\u00E9t\u00E9"), REG_SZ, sz_bytes(w(u"caf\u00E9 \U0001F600"))},
        {odd, w("="), REG_SZ, sz_bytes(w("=\"]"))},
    };
    for (const auto& value : values)
        ASSERT_EQ(set(value.key, value.name, value.type, value.bytes), ERROR_SUCCESS);
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

    // An existing file is replaced only with /y; a missing key writes nothing.
    write_file(file, "keep me");
    EXPECT_EQ(kesreg({"export", "HKLM\\SOFTWARE\\Round", file}).status, 1);
    EXPECT_EQ(read_file(file), "keep me");
    EXPECT_EQ(kesreg({"export", "HKLM\\SOFTWARE\\Round", file, "/y"}).status, 0);
    EXPECT_EQ(read_file(file), bytes);
    EXPECT_EQ(kesreg({"export", "HKLM\\SOFTWARE\\Missing", home() + "/no.reg"}).status, 1);
    EXPECT_FALSE(std::filesystem::exists(home() + "/no.reg"));
}

TEST_F(Kesreg, ImportTakesHandWrittenUtf8WithContinuationsAndDeletions) {
    create("SOFTWARE\\Hand\\Old\\Inner");
    HKEY kept = create("SOFTWARE\\Hand\\Keep");
    ASSERT_EQ(set_dword(kept, w("drop"), 1), ERROR_SUCCESS);
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
    EXPECT_FALSE(exists("SOFTWARE\\Hand\\Old"));
    EXPECT_EQ(status_of(kept, w("drop")), ERROR_FILE_NOT_FOUND);

    HKEY made = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hand\\New", KEY_READ);
    ASSERT_NE(made, nullptr);
    const struct {
        const char* name;
        DWORD type;
        std::vector<BYTE> bytes;
    } expected[] = {
        {"", REG_SZ, sz_bytes(w(u"d\u00E9faut"))},
        {"n", REG_DWORD, {10, 0, 0, 0}},
        {"bin", REG_BINARY, {1, 2, 3, 4}},
        {"exp", REG_EXPAND_SZ, sz_bytes(w("%A%"))},
        {"multi", REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}},
        {"q", REG_QWORD, {0xFF, 0, 0, 0, 0, 0, 0, 1}},
        {"empty", REG_BINARY, {}},
    };
    for (const auto& value : expected) {
        DWORD type = 0;
        LSTATUS status;
        EXPECT_EQ(get(made, w(value.name), &type, &status), value.bytes) << value.name;
        EXPECT_EQ(status, ERROR_SUCCESS) << value.name;
        EXPECT_EQ(type, value.type) << value.name;
    }
}

TEST_F(Kesreg, MalformedFilesAreRefusedWholeAndNameTheirLine) {
    const std::string header = "Windows Registry Editor Version 5.00\r\n";
    const std::string first = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\MustNotAppear]\r\n\"ok\"=dword:1\r\n";
    const std::string start = header + first;
    const std::pair<std::string, std::string> files[] = {
        {"REGEDIT4\r\n" + first, "line 1"},
        {start + "\"v\"=\"C:\\path\"\r\n", "line 4: unsupported escape"},
        {start + "\"v\"=\"open\r\n", "line 4: unterminated"},
        {start + "\"v\"=dword:123456789\r\n", "line 4: dword"},
        {start + "\"v\"=hex:01,02,\r\n", "line 4: bad byte"},
        {start + "\"v\"=hex(zz):01\r\n", "line 4: hex(N)"},
        {start + "\"v\"=hex:01,\\", "ends inside"},
        {start + "\"v\"=sz:abc\r\n", "line 4: unrecognised"},
        {start + "\"v\"\r\n", "line 4: expected '='"},
        {start + "[HKEY_CURRENT_USER\\X]\r\n", "line 4: unknown root"},
        {start + "[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", "line 4: the key path has an empty"},
        {header + "\"early\"=dword:1\r\n", "line 2: a value before"},
        {start + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n\"v\"=dword:1\r\n",
         "line 5: a value below"},
        {start + "\"bad\xC3\x28\"=dword:1\r\n", "UTF-8"},
        {std::string("\xFE\xFF\0W", 4), "big-endian"},
        {std::string("\xFF\xFEW", 3), "odd length"},
    };
    std::string file = home() + "/bad.reg";
    for (const auto& bad : files) {
        write_file(file, bad.first);
        outcome result = kesreg({"import", file});
        EXPECT_EQ(result.status, 1) << bad.second;
        EXPECT_NE(result.output.find(bad.second), std::string::npos) << result.output;
        EXPECT_NE(result.output.find("nothing was imported"), std::string::npos) << result.output;
        EXPECT_FALSE(exists("SOFTWARE\\MustNotAppear")) << bad.second;
    }
    EXPECT_EQ(kesreg({"import", home() + "/missing.reg"}).status, 1);
}

TEST_F(Kesreg, AddQueryAndDeleteFromTheCommandLine) {
    const std::string key = "HKLM\\SOFTWARE\\Cli";
    EXPECT_EQ(kesreg({"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "5"}).status, 0);
    outcome again = kesreg({"add", key, "/v", "count", "/t", "REG_DWORD", "/d", "6"});
    EXPECT_EQ(again.status, 1);  // exists: replaced only with /f
    EXPECT_NE(again.output.find("/f"), std::string::npos);
    EXPECT_EQ(kesreg({"add", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cli", "/v", "Count", "/t", "reg_dword",
                      "/d", "0x10", "/f"})
                  .status,
              0);
    EXPECT_EQ(
        kesreg({"add", key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a,b", "/s", ","}).status, 0);
    EXPECT_EQ(kesreg({"add", key + "\\Sub", "/ve", "/d", "text"}).status, 0);
    HKEY cli = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Cli", KEY_READ);
    EXPECT_EQ(get(cli, w("Count")), (std::vector<BYTE>{0x10, 0, 0, 0}));
    EXPECT_EQ(get(cli, w("List")), (std::vector<BYTE>{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));

    outcome shown = kesreg({"query", key, "/s"});
    EXPECT_EQ(shown.status, 0);
    for (const char* line :
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Cli\n    Count    REG_DWORD    0x10\n",
          "    List    REG_MULTI_SZ    a\\0b\n",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cli\\Sub\n    (Default)    REG_SZ    text\n"}) {
        EXPECT_NE(shown.output.find(line), std::string::npos) << shown.output;
    }
    EXPECT_EQ(kesreg({"query", key, "/v", "Missing"}).status, 1);

    EXPECT_EQ(kesreg({"delete", key, "/v", "Count"}).status, 0);
    EXPECT_EQ(status_of(cli, w("Count")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(kesreg({"delete", key}).status, 1);  // it has a subkey
    EXPECT_EQ(kesreg({"delete", key, "/f"}).status, 0);
    EXPECT_EQ(kesreg({"query", key}).status, 1);
}

TEST_F(Kesreg, BadUsageExitsWithStatusTwoAndChangesNothing) {
    const std::string key = "HKLM\\SOFTWARE\\X";
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"query", "HKCU\\Software"},
        {"add", key, "/v"},
        {"add", key, "/v", "a", "/t", "REG_WHATEVER"},
        {"add", key, "/v", "a", "/t", "REG_DWORD", "/d", "-1"},
        {"add", key, "/v", "a", "/t", "REG_QWORD", "/d", "18446744073709551616"},
        {"add", key, "/v", "a", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
        {"add", key, "/d", "data without a name"},
        {"export", key},
    };
    for (const std::vector<std::string>& args : bad) {
        outcome result = kesreg(args);
        EXPECT_EQ(result.status, 2) << (args.empty() ? "" : args.back()) << "\n" << result.output;
        EXPECT_NE(result.output.find("kesreg: error: "), std::string::npos);
    }
    EXPECT_FALSE(exists("SOFTWARE\\X"));
    outcome help = kesreg({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("Usage: kesreg"), std::string::npos);
}

// The tester library registered by file name from its own directory, then
// created in this process, which has never loaded it: COM finds the absolute
// path in the registry, loads it and asks its DllGetClassObject.
TEST_F(Kesreg, RegisteredTesterLibraryServesTheErrorServerThroughTheRegistry) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    IDovErrorLookup* lookup = nullptr;
    auto create_lookup = [&lookup] {
        return CoCreateInstance(CLSID_DovErrorLookup, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IDovErrorLookup, reinterpret_cast<void**>(&lookup));
    };
    EXPECT_EQ(create_lookup(), REGDB_E_CLASSNOTREG);

    const std::filesystem::path library = std::filesystem::canonical(KESTESTER_PATH);
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(library.parent_path());
    outcome registered = kesreg({"regserver", library.filename().string()});
    std::filesystem::current_path(here);
    ASSERT_EQ(registered.status, 0) << registered.output;

    WCHAR guid[39];
    StringFromGUID2(CLSID_DovErrorLookup, guid, 39);
    HKEY server = open(HKEY_CLASSES_ROOT, "CLSID\\" + narrow(guid) + "\\InprocServer32", KEY_READ);
    DWORD type = 0;
    EXPECT_EQ(get(server, w(""), &type), sz_bytes(w(library.string())));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(get(server, w("ThreadingModel")), sz_bytes(w("Both")));

    ASSERT_EQ(create_lookup(), S_OK);
    BSTR message = nullptr;
    EXPECT_EQ(lookup->LookupMessage(static_cast<LONG>(0x8004020Au), &message), S_OK);
    EXPECT_EQ(narrow(host::wstring(message, SysStringLen(message))),
              "The value or name was not found.\r\n");
    SysFreeString(message);
    lookup->Release();

    ASSERT_EQ(kesreg({"unregserver", library.string()}).status, 0);
    EXPECT_FALSE(exists("SOFTWARE\\Classes\\CLSID\\" + narrow(guid)));
    EXPECT_EQ(create_lookup(), REGDB_E_CLASSNOTREG);
    CoUninitialize();

    outcome missing = kesreg({"regserver", home() + "/absent.so"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("cannot load"), std::string::npos) << missing.output;
    outcome notServer = kesreg({"unregserver", "libc.so.6"});
    EXPECT_EQ(notServer.status, 1);
    EXPECT_NE(notServer.output.find("has no DllUnregisterServer"), std::string::npos);
}

}  // namespace
}  // namespace regtest
