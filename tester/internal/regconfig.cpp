#include <tester/internal/regconfig.h>

#include <host/codepage.h>

#include <climits>
#include <cstring>

namespace tester::reg {

Key::~Key() {
    Close();
}

void Key::Close() {
    if (m_Key != nullptr)
        RegCloseKey(m_Key);
    m_Key = nullptr;
}

LSTATUS Key::Open(HKEY root, const host::wstring& path) {
    Close();
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &m_Key);
}

LSTATUS Key::Create(HKEY root, const host::wstring& path) {
    Close();
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, nullptr, &m_Key, nullptr);
}

LSTATUS ReadLong(HKEY key, const WCHAR* name, LONG& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LSTATUS status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_MORE_DATA)
        return ERROR_INVALID_PARAMETER;
    if (status != ERROR_SUCCESS)
        return status;
    if (type != REG_DWORD || size != sizeof(data))
        return ERROR_INVALID_PARAMETER;
    value = static_cast<LONG>(data);
    return ERROR_SUCCESS;
}

LSTATUS ReadString(HKEY key, const WCHAR* name, host::wstring& value) {
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (type != REG_SZ || size % sizeof(WCHAR) != 0)
        return ERROR_INVALID_PARAMETER;
    host::wstring text(size / sizeof(WCHAR), 0);
    status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (status != ERROR_SUCCESS)
        return status;
    text.resize(size / sizeof(WCHAR));
    // Stored with a terminator; a value written without one is taken whole.
    std::size_t end = text.find(WCHAR(0));
    if (end != host::wstring::npos)
        text.resize(end);
    value = std::move(text);
    return ERROR_SUCCESS;
}

LSTATUS WriteLong(HKEY key, const WCHAR* name, LONG value) {
    DWORD data = static_cast<DWORD>(value);
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof(data));
}

LSTATUS WriteString(HKEY key, const WCHAR* name, const host::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

LSTATUS SubKeys(HKEY key, std::vector<host::wstring>& names) {
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        LSTATUS status =
            RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        names.emplace_back(name, length);
    }
}

LSTATUS StringValues(HKEY key, std::vector<std::pair<host::wstring, host::wstring>>& values) {
    DWORD count = 0;
    DWORD longestName = 0;
    LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &count, &longestName, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    for (DWORD index = 0; index < count; ++index) {
        host::wstring name(longestName + 1, 0);
        DWORD length = longestName + 1;
        DWORD type = 0;
        status = RegEnumValueW(key, index, name.data(), &length, nullptr, &type, nullptr, nullptr);
        if (status != ERROR_SUCCESS)
            return status;
        name.resize(length);
        if (type != REG_SZ)
            continue;
        host::wstring text;
        status = ReadString(key, name.c_str(), text);
        if (status != ERROR_SUCCESS)
            return status;
        values.emplace_back(std::move(name), std::move(text));
    }
    return ERROR_SUCCESS;
}

bool ParseLongs(const WCHAR* text, std::size_t length, std::vector<LONG>& values) {
    std::vector<LONG> parsed;
    std::size_t i = 0;
    auto blank = [](WCHAR c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < length) {
        if (blank(text[i])) {
            ++i;
            continue;
        }
        bool negative = false;
        if (text[i] == '-' || text[i] == '+') {
            negative = text[i] == '-';
            ++i;
        }
        long long number = 0;
        std::size_t digits = 0;
        while (i < length && text[i] >= '0' && text[i] <= '9') {
            number = number * 10 + (text[i] - '0');
            if (number > static_cast<long long>(INT_MAX) + 1)
                return false;
            ++i;
            ++digits;
        }
        if (digits == 0 || (i < length && !blank(text[i])))
            return false;
        if (negative)
            number = -number;
        if (number > INT_MAX || number < INT_MIN)
            return false;
        parsed.push_back(static_cast<LONG>(number));
    }
    values = std::move(parsed);
    return true;
}

host::wstring JoinLongs(const std::vector<LONG>& values) {
    host::wstring text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            text.push_back(' ');
        text += Number(values[i]);
    }
    return text;
}

host::wstring Widen(const std::string& utf8) {
    if (utf8.empty())
        return host::wstring();
    int units =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (units <= 0)
        return host::wstring();
    host::wstring wide(static_cast<std::size_t>(units), 0);
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), units);
    return wide;
}

std::string Narrow(const host::wstring& wide) {
    if (wide.empty())
        return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(),
                        bytes, nullptr, nullptr);
    return narrow;
}

host::wstring Number(long long value) {
    std::string digits = std::to_string(value);
    return host::wstring(digits.begin(), digits.end());
}

HRESULT ToResult(LSTATUS status) {
    return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

}  // namespace tester::reg
