#include "regtext.h"

#include <host/codepage.h>

#include <climits>

namespace kesreg {
namespace {

bool equal_ignoring_ascii_case(const wstring& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        WCHAR x = a[i];
        auto y = static_cast<WCHAR>(static_cast<unsigned char>(b[i]));
        if (x >= 'a' && x <= 'z')
            x = static_cast<WCHAR>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<WCHAR>(y - 32);
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == 0;
}

}  // namespace

bool from_utf8(const std::string& text, wstring* out) {
    out->clear();
    if (text.empty())
        return true;
    if (text.size() > INT_MAX)
        return false;
    int length = static_cast<int>(text.size());
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (units <= 0)
        return false;
    out->resize(static_cast<std::size_t>(units));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, out->data(),
                               units) == units;
}

std::string to_utf8(const wstring& text) {
    if (text.empty() || text.size() > INT_MAX / 3)
        return std::string();
    int length = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
    return out;
}

wstring ascii(const char* text) {
    wstring out;
    for (; *text != 0; ++text)
        out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*text)));
    return out;
}

wstring key_path::full() const {
    if (below.empty())
        return root_name;
    return root_name + ascii("\\") + below;
}

bool parse_key_path(const wstring& text, key_path* out, std::string* reason) {
    std::size_t split = text.find('\\');
    wstring root = text.substr(0, split);
    wstring below = split == wstring::npos ? wstring() : text.substr(split + 1);
    if (!below.empty() && below.back() == '\\')
        below.pop_back();
    if (equal_ignoring_ascii_case(root, "HKLM") ||
        equal_ignoring_ascii_case(root, "HKEY_LOCAL_MACHINE")) {
        out->root = HKEY_LOCAL_MACHINE;
        out->root_name = ascii("HKEY_LOCAL_MACHINE");
    } else if (equal_ignoring_ascii_case(root, "HKCR") ||
               equal_ignoring_ascii_case(root, "HKEY_CLASSES_ROOT")) {
        out->root = HKEY_CLASSES_ROOT;
        out->root_name = ascii("HKEY_CLASSES_ROOT");
    } else {
        *reason = root.empty() ? "the key path is empty"
                               : "unknown root key '" + to_utf8(root) +
                                     "' (use HKLM, HKEY_LOCAL_MACHINE, HKCR or HKEY_CLASSES_ROOT)";
        return false;
    }
    // One trailing backslash was dropped above; another one left at the end
    // is an empty last level, as a doubled one is inside.
    if (!below.empty() && (below.front() == '\\' || below.back() == '\\' ||
                           below.find(ascii("\\\\")) != wstring::npos)) {
        *reason = "the key path has an empty level";
        return false;
    }
    out->below = below;
    return true;
}

std::string status_text(LSTATUS status) {
    switch (static_cast<DWORD>(status)) {
        case ERROR_SUCCESS:
            return "done";
        case ERROR_FILE_NOT_FOUND:
            return "not found";
        case ERROR_ACCESS_DENIED:
            return "access denied";
        case ERROR_INVALID_HANDLE:
            return "invalid handle";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "out of memory";
        case ERROR_INVALID_PARAMETER:
            return "invalid name, path or data (a limit may be exceeded)";
        case ERROR_MORE_DATA:
            return "the data changed while it was read";
        case ERROR_BADDB:
            return "the registry store is damaged or of a newer layout";
        case ERROR_CANTOPEN:
            return "the registry store cannot be opened (check KES_HOME)";
        case ERROR_CANTREAD:
            return "the registry store cannot be read";
        case ERROR_CANTWRITE:
            return "the registry store cannot be written";
        case ERROR_KEY_DELETED:
            return "the key was deleted meanwhile";
        default:
            return "error " + std::to_string(status);
    }
}

LSTATUS read_values(HKEY key, std::vector<value_data>* values) {
    values->clear();
    for (DWORD index = 0;; ++index) {
        DWORD longest_name = 0;
        DWORD largest = 0;
        LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, &longest_name, &largest, nullptr, nullptr);
        if (status != ERROR_SUCCESS)
            return status;
        wstring name(longest_name + 1, 0);
        value_data value;
        value.bytes.resize(largest);
        DWORD units = longest_name + 1;
        DWORD size = largest;
        status = RegEnumValueW(key, index, name.data(), &units, nullptr, &value.type,
                               value.bytes.data(), &size);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) {  // grown meanwhile: size again
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS)
            return status;
        value.name.assign(name.data(), units);
        value.bytes.resize(size);
        values->push_back(std::move(value));
    }
}

LSTATUS read_subkeys(HKEY key, std::vector<wstring>* names) {
    names->clear();
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD units = 256;
        LSTATUS status =
            RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        names->emplace_back(name, units);
    }
}

wstring units_of(const std::vector<BYTE>& bytes) {
    wstring units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<WCHAR>(bytes[i] | bytes[i + 1] << 8));
    }
    return units;
}

std::vector<BYTE> bytes_of(const wstring& units) {
    std::vector<BYTE> bytes;
    bytes.reserve(units.size() * 2);
    for (WCHAR unit : units) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

}  // namespace kesreg
