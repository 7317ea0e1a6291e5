#include "commands.h"

#include "regfile.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace kesreg {
namespace {

constexpr std::size_t kMaxImportBytes = 256u << 20;

void error(const std::string& message) {
    std::fprintf(stderr, "kesreg: error: %s\n", message.c_str());
}

int failed(const std::string& what, LSTATUS status) {
    error(what + ": " + status_text(status));
    return kExitFailure;
}

int usage_error(const std::string& message) {
    error(message);
    std::fprintf(stderr, "Try 'kesreg --help'.\n");
    return kExitUsage;
}

std::string shown(const key_path& path) {
    return to_utf8(path.full());
}

std::string shown_name(const wstring& name) {
    return name.empty() ? "(Default)" : to_utf8(name);
}

// ---- Types and data ---------------------------------------------------------------

struct type_name {
    const char* name;
    DWORD type;
};

constexpr type_name kTypes[] = {
    {"REG_NONE", REG_NONE},           {"REG_SZ", REG_SZ},
    {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
    {"REG_DWORD", REG_DWORD},         {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    {"REG_LINK", REG_LINK},           {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_QWORD", REG_QWORD},
};

std::string name_of_type(DWORD type) {
    for (const type_name& entry : kTypes) {
        if (entry.type == type)
            return entry.name;
    }
    char text[32];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(type));
    return text;
}

bool type_from_name(const std::string& text, DWORD* type) {
    std::string upper;
    for (char c : text)
        upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
    for (const type_name& entry : kTypes) {
        if (upper == entry.name) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

// A decimal or 0x-prefixed hexadecimal number no larger than `max`.
bool parse_number(const std::string& text, std::uint64_t max, std::uint64_t* value) {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::size_t start = hex ? 2 : 0;
    if (start == text.size())
        return false;
    std::uint64_t result = 0;
    std::uint64_t base = hex ? 16 : 10;
    for (std::size_t i = start; i < text.size(); ++i) {
        char c = text[i];
        int digit = c >= '0' && c <= '9'          ? c - '0'
                    : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : -1;
        if (digit < 0)
            return false;
        if (result > (max - static_cast<std::uint64_t>(digit)) / base)
            return false;
        result = result * base + static_cast<std::uint64_t>(digit);
    }
    *value = result;
    return true;
}

bool parse_hex_bytes(const std::string& text, std::vector<BYTE>* bytes) {
    if (text.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        std::uint64_t byte = 0;
        if (!parse_number("0x" + text.substr(i, 2), 0xFF, &byte))
            return false;
        bytes->push_back(static_cast<BYTE>(byte));
    }
    return true;
}

// The bytes for `text` as a value of `type`, or false with a reason.
bool encode_data(DWORD type, const std::string& text, const std::string& separator,
                 std::vector<BYTE>* bytes, std::string* reason) {
    std::uint64_t number = 0;
    wstring wide;
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_LINK:
            if (!from_utf8(text, &wide)) {
                *reason = "the data is not valid UTF-8";
                return false;
            }
            *bytes = bytes_of(wide + WCHAR(0));
            return true;
        case REG_MULTI_SZ: {
            if (separator.empty()) {
                *reason = "the separator is empty";
                return false;
            }
            wstring all;
            std::size_t start = 0;
            while (!text.empty() && start <= text.size()) {
                std::size_t end = text.find(separator, start);
                std::string item = text.substr(start, end == std::string::npos ? end : end - start);
                if (item.empty() || !from_utf8(item, &wide)) {
                    *reason = item.empty() ? "REG_MULTI_SZ strings cannot be empty"
                                           : "the data is not valid UTF-8";
                    return false;
                }
                all += wide + WCHAR(0);
                if (end == std::string::npos)
                    break;
                start = end + separator.size();
            }
            *bytes = bytes_of(all + WCHAR(0));
            return true;
        }
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
            if (!parse_number(text, 0xFFFFFFFFu, &number)) {
                *reason = "REG_DWORD data must be a decimal or 0x number up to 0xFFFFFFFF";
                return false;
            }
            for (int i = 0; i < 4; ++i) {
                int shift = type == REG_DWORD ? 8 * i : 8 * (3 - i);
                bytes->push_back(static_cast<BYTE>(number >> shift));
            }
            return true;
        case REG_QWORD:
            if (!parse_number(text, UINT64_MAX, &number)) {
                *reason = "REG_QWORD data must be a decimal or 0x number of at most 64 bits";
                return false;
            }
            for (int i = 0; i < 8; ++i)
                bytes->push_back(static_cast<BYTE>(number >> (8 * i)));
            return true;
        default:
            if (!parse_hex_bytes(text, bytes)) {
                *reason = "binary data must be pairs of hexadecimal digits, e.g. 0a1b2c";
                return false;
            }
            return true;
    }
}

// How a value is shown by query.
std::string render(const value_data& value) {
    char text[32];
    wstring units = units_of(value.bytes);
    switch (value.type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_LINK:
            return to_utf8(units.substr(0, units.find(WCHAR(0))));
        case REG_MULTI_SZ: {
            std::string out;
            std::size_t start = 0;
            while (start < units.size() && units[start] != 0) {
                std::size_t end = units.find(WCHAR(0), start);
                if (end == wstring::npos)
                    end = units.size();
                if (!out.empty())
                    out += "\\0";
                out += to_utf8(units.substr(start, end - start));
                start = end + 1;
            }
            return out;
        }
        case REG_DWORD:
            if (value.bytes.size() != 4)
                break;
            std::snprintf(
                text, sizeof text, "0x%x",
                static_cast<unsigned>(value.bytes[0] | value.bytes[1] << 8 | value.bytes[2] << 16 |
                                      static_cast<unsigned>(value.bytes[3]) << 24));
            return text;
        case REG_QWORD: {
            if (value.bytes.size() != 8)
                break;
            std::uint64_t number = 0;
            for (int i = 7; i >= 0; --i)
                number = number << 8 | value.bytes[static_cast<std::size_t>(i)];
            std::snprintf(text, sizeof text, "0x%" PRIx64, number);
            return text;
        }
        default:
            break;
    }
    std::string out;
    for (BYTE byte : value.bytes) {
        std::snprintf(text, sizeof text, "%02X", byte);
        out += text;
    }
    return out;
}

void print_value(const value_data& value) {
    std::printf("    %s    %s    %s\n", shown_name(value.name).c_str(),
                name_of_type(value.type).c_str(), render(value).c_str());
}

LSTATUS open_key(const key_path& path, REGSAM rights, key_handle* key) {
    return RegOpenKeyExW(path.root, path.below.c_str(), 0, rights, key->out());
}

key_path child_of(const key_path& path, const wstring& name) {
    key_path child = path;
    child.below = path.below.empty() ? name : path.below + ascii("\\") + name;
    return child;
}

int query_key(const key_path& path, bool recursive) {
    key_handle key;
    LSTATUS status = open_key(path, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return failed(shown(path), status);
    std::vector<value_data> values;
    std::vector<wstring> subkeys;
    status = read_values(key.get(), &values);
    if (status == ERROR_SUCCESS)
        status = read_subkeys(key.get(), &subkeys);
    if (status != ERROR_SUCCESS)
        return failed(shown(path), status);
    std::printf("%s\n", shown(path).c_str());
    for (const value_data& value : values)
        print_value(value);
    std::printf("\n");
    for (const wstring& name : subkeys) {
        if (!recursive) {
            std::printf("%s\n", shown(child_of(path, name)).c_str());
            continue;
        }
        int result = query_key(child_of(path, name), true);
        if (result != kExitOk)
            return result;
    }
    return kExitOk;
}

// ---- Export --------------------------------------------------------------------------

LSTATUS export_key(const key_path& path, reg_writer* writer, std::string* problem) {
    key_handle key;
    LSTATUS status = open_key(path, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return status;
    std::vector<value_data> values;
    std::vector<wstring> subkeys;
    status = read_values(key.get(), &values);
    if (status == ERROR_SUCCESS)
        status = read_subkeys(key.get(), &subkeys);
    if (status != ERROR_SUCCESS)
        return status;
    if (!writer->key(path.full())) {
        *problem = "the key name " + shown(path) + " holds a line break";
        return ERROR_INVALID_PARAMETER;
    }
    for (const value_data& value : values) {
        if (!writer->value(value.name, value.type, value.bytes)) {
            *problem = "the value name '" + to_utf8(value.name) + "' in " + shown(path) +
                       " holds a line break";
            return ERROR_INVALID_PARAMETER;
        }
    }
    for (const wstring& name : subkeys) {
        status = export_key(child_of(path, name), writer, problem);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

// Writes `bytes` to `file` through a temporary file in the same directory, so
// that a reader never sees half a file and a failure leaves no partial one.
bool write_file_atomically(const std::string& file, const std::vector<unsigned char>& bytes,
                           bool overwrite, std::string* reason) {
    struct stat info;
    if (!overwrite && ::stat(file.c_str(), &info) == 0) {
        *reason = "the file exists (use /y to replace it)";
        return false;
    }
    std::string temporary = file + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bool ok = done == bytes.size() && ::fsync(fd) == 0;
    if (!ok)
        *reason = std::strerror(errno);
    ::fchmod(fd, 0644);
    ::close(fd);
    if (ok && ::rename(temporary.c_str(), file.c_str()) != 0) {
        *reason = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

bool read_file(const std::string& file, std::vector<unsigned char>* bytes, std::string* reason) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    unsigned char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            *reason = std::strerror(errno);
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        if (bytes->size() + static_cast<std::size_t>(n) > kMaxImportBytes) {
            *reason = "the file is larger than 256 MiB";
            ::close(fd);
            return false;
        }
        bytes->insert(bytes->end(), buffer, buffer + n);
    }
}

LSTATUS apply_block(const reg_key_block& block, std::string* where) {
    *where = shown(block.path);
    if (block.remove) {
        LSTATUS status = RegDeleteTreeW(block.path.root, block.path.below.c_str());
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    key_handle key;
    LSTATUS status =
        RegCreateKeyExW(block.path.root, block.path.below.c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    for (const reg_value_line& value : block.values) {
        *where = shown(block.path) + " value " + shown_name(value.name);
        if (value.remove) {
            status = RegDeleteValueW(key.get(), value.name.c_str());
            if (status == ERROR_FILE_NOT_FOUND)
                status = ERROR_SUCCESS;
        } else {
            status = RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                                    static_cast<DWORD>(value.data.size()));
        }
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

}  // namespace

int query(const key_path& path, const value_choice& value, bool recursive) {
    if (value.kind != value_choice::named && value.kind != value_choice::default_value) {
        return query_key(path, recursive);
    }
    key_handle key;
    LSTATUS status = open_key(path, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return failed(shown(path), status);
    value_data data;
    data.name = value.name;
    for (;;) {
        DWORD size = 0;
        status =
            RegQueryValueExW(key.get(), value.name.c_str(), nullptr, &data.type, nullptr, &size);
        if (status != ERROR_SUCCESS)
            break;
        data.bytes.resize(size);
        status = RegQueryValueExW(key.get(), value.name.c_str(), nullptr, &data.type,
                                  data.bytes.data(), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        data.bytes.resize(size);
        break;
    }
    if (status != ERROR_SUCCESS)
        return failed(shown(path) + " value " + shown_name(value.name), status);
    std::printf("%s\n", shown(path).c_str());
    print_value(data);
    return kExitOk;
}

int add(const key_path& path, const value_choice& value, const std::string& type_text,
        const std::optional<std::string>& data, const std::string& separator, bool force) {
    DWORD type = REG_SZ;
    if (!type_from_name(type_text, &type))
        return usage_error("unknown value type '" + type_text + "'");
    std::vector<BYTE> bytes;
    std::string reason;
    bool has_value = value.kind == value_choice::named || value.kind == value_choice::default_value;
    if (has_value && !encode_data(type, data.value_or(std::string()), separator, &bytes, &reason)) {
        return usage_error(reason);
    }
    if (!has_value && data.has_value())
        return usage_error("/d needs /v NAME or /ve");

    key_handle key;
    LSTATUS status =
        RegCreateKeyExW(path.root, path.below.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS)
        return failed(shown(path), status);
    if (!has_value)
        return kExitOk;
    std::string where = shown(path) + " value " + shown_name(value.name);
    DWORD size = 0;
    status = RegQueryValueExW(key.get(), value.name.c_str(), nullptr, nullptr, nullptr, &size);
    if (status == ERROR_SUCCESS && !force) {
        error(where + " exists (use /f to replace it)");
        return kExitFailure;
    }
    status = RegSetValueExW(key.get(), value.name.c_str(), 0, type, bytes.data(),
                            static_cast<DWORD>(bytes.size()));
    return status == ERROR_SUCCESS ? kExitOk : failed(where, status);
}

int remove(const key_path& path, const value_choice& value, bool force) {
    if (value.kind == value_choice::none) {
        if (path.below.empty())
            return usage_error("a predefined root key cannot be deleted");
        LSTATUS status = force ? RegDeleteTreeW(path.root, path.below.c_str())
                               : RegDeleteKeyW(path.root, path.below.c_str());
        if (status == ERROR_ACCESS_DENIED && !force) {
            error(shown(path) + " has subkeys (use /f to delete the whole tree)");
            return kExitFailure;
        }
        return status == ERROR_SUCCESS ? kExitOk : failed(shown(path), status);
    }
    key_handle key;
    LSTATUS status = open_key(path, KEY_ALL_ACCESS, &key);
    if (status != ERROR_SUCCESS)
        return failed(shown(path), status);
    if (value.kind != value_choice::all) {
        status = RegDeleteValueW(key.get(), value.name.c_str());
        return status == ERROR_SUCCESS
                   ? kExitOk
                   : failed(shown(path) + " value " + shown_name(value.name), status);
    }
    std::vector<value_data> values;
    status = read_values(key.get(), &values);
    if (status != ERROR_SUCCESS)
        return failed(shown(path), status);
    for (const value_data& each : values) {
        status = RegDeleteValueW(key.get(), each.name.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            return failed(shown(path) + " value " + shown_name(each.name), status);
        }
    }
    return kExitOk;
}

int export_tree(const key_path& path, const std::string& file, bool overwrite) {
    reg_writer writer;
    std::string problem;
    LSTATUS status = export_key(path, &writer, &problem);
    if (status != ERROR_SUCCESS) {
        if (!problem.empty()) {
            error("cannot export: " + problem);
            return kExitFailure;
        }
        return failed(shown(path), status);
    }
    std::string reason;
    if (!write_file_atomically(file, writer.bytes(), overwrite, &reason)) {
        error(file + ": " + reason);
        return kExitFailure;
    }
    return kExitOk;
}

int import_file(const std::string& file) {
    std::vector<unsigned char> bytes;
    std::string reason;
    if (!read_file(file, &bytes, &reason)) {
        error(file + ": " + reason);
        return kExitFailure;
    }
    std::vector<reg_key_block> blocks;
    if (!parse_reg_file(bytes, &blocks, &reason)) {
        error(file + ": " + reason + " (nothing was imported)");
        return kExitFailure;
    }
    for (const reg_key_block& block : blocks) {
        std::string where;
        LSTATUS status = apply_block(block, &where);
        if (status != ERROR_SUCCESS)
            return failed(file + ": " + where, status);
    }
    return kExitOk;
}

int run_server_entry(const std::string& module, bool unregister) {
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    // A bare file name means the file here, not a search of the library path.
    struct stat info;
    std::string path = module;
    if (path.find('/') == std::string::npos && ::stat(path.c_str(), &info) == 0)
        path = "./" + path;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error("cannot load " + module + ": " + (reason != nullptr ? reason : "unknown reason"));
        return kExitFailure;
    }
    using entry_fn = HRESULT (*)();
    auto function = reinterpret_cast<entry_fn>(dlsym(handle, entry));
    if (function == nullptr) {
        error(module + " has no " + entry);
        return kExitFailure;
    }
    HRESULT hr = function();
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        error(std::string(entry) + " in " + module + " failed with " + code);
        return kExitFailure;
    }
    std::printf("%s in %s succeeded.\n", entry, module.c_str());
    return kExitOk;
}

}  // namespace kesreg
