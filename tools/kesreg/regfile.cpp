#include "regfile.h"

#include <cstdio>

namespace kesreg {
namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr std::size_t kWrapColumn = 77;

bool is_space(WCHAR c) {
    return c == ' ' || c == '\t';
}

wstring trim(const wstring& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_space(text[begin]))
        ++begin;
    while (end > begin && is_space(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool starts_with_ignoring_case(const wstring& text, const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i] != 0; ++i) {
        if (i >= text.size())
            return false;
        WCHAR c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<WCHAR>(c + 32);
        if (c != static_cast<WCHAR>(prefix[i]))
            return false;
    }
    return true;
}

int hex_digit(WCHAR c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Parses 1 to `max_digits` hexadecimal digits making up all of `text`.
bool parse_hex_number(const wstring& text, std::size_t max_digits, std::uint64_t* value) {
    if (text.empty() || text.size() > max_digits)
        return false;
    std::uint64_t result = 0;
    for (WCHAR c : text) {
        int digit = hex_digit(c);
        if (digit < 0)
            return false;
        result = result << 4 | static_cast<std::uint64_t>(digit);
    }
    *value = result;
    return true;
}

// The file's text in UTF-16, from either accepted encoding.
bool decode(const std::vector<unsigned char>& file, wstring* text, std::string* error) {
    if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xFE) {
        if (file.size() % 2 != 0) {
            *error = "UTF-16 file of odd length";
            return false;
        }
        text->clear();
        for (std::size_t i = 2; i < file.size(); i += 2) {
            text->push_back(static_cast<WCHAR>(file[i] | file[i + 1] << 8));
        }
        return true;
    }
    if (file.size() >= 2 && file[0] == 0xFE && file[1] == 0xFF) {
        *error = "UTF-16 big-endian files are not supported; use UTF-16LE or UTF-8";
        return false;
    }
    std::size_t skip =
        file.size() >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF ? 3 : 0;
    std::string bytes(file.begin() + static_cast<std::ptrdiff_t>(skip), file.end());
    if (!from_utf8(bytes, text)) {
        *error = "the file is neither UTF-16LE with a byte order mark nor valid UTF-8";
        return false;
    }
    return true;
}

std::vector<wstring> split_lines(const wstring& text) {
    std::vector<wstring> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == wstring::npos)
            end = text.size();
        wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

class parser {
  public:
    parser(std::vector<wstring> lines, std::vector<reg_key_block>* blocks)
        : m_lines(std::move(lines)), m_blocks(blocks) {}

    bool run(std::string* error) {
        bool ok = header() && body();
        if (!ok)
            *error = m_error;
        return ok;
    }

  private:
    bool fail(const std::string& message) {
        m_error = "line " + std::to_string(m_index + 1) + ": " + message;
        return false;
    }

    bool header() {
        while (m_index < m_lines.size() && trim(m_lines[m_index]).empty())
            ++m_index;
        if (m_index == m_lines.size())
            return fail("the file is empty");
        if (trim(m_lines[m_index]) != ascii(kHeader)) {
            return fail(std::string("the first line must be \"") + kHeader + "\"");
        }
        ++m_index;
        return true;
    }

    bool body() {
        for (; m_index < m_lines.size(); ++m_index) {
            wstring text = trim(m_lines[m_index]);
            if (text.find(WCHAR(0)) != wstring::npos)
                return fail("NUL character in the line");
            if (text.empty() || text[0] == ';')
                continue;
            bool ok = text[0] == '[' ? key_line(text)
                      : text[0] == '"' || text[0] == '@'
                          ? value_line(text)
                          : fail("expected [key], \"name\"=data or @=data");
            if (!ok)
                return false;
        }
        return true;
    }

    bool key_line(const wstring& text) {
        if (text.back() != ']')
            return fail("a key line must end with ']'");
        wstring inner = text.substr(1, text.size() - 2);
        reg_key_block block;
        if (!inner.empty() && inner[0] == '-') {
            block.remove = true;
            inner.erase(0, 1);
        }
        std::string reason;
        if (!parse_key_path(inner, &block.path, &reason))
            return fail(reason);
        // Lines split at line feeds only, so a lone carriage return can sit
        // inside one; no key name holds it, and none could be written back.
        if (inner.find('\r') != wstring::npos)
            return fail("carriage return in the key path");
        m_blocks->push_back(std::move(block));
        return true;
    }

    // A quoted string starting at text[*pos] == '"'; `*pos` moves past it.
    bool quoted(const wstring& text, std::size_t* pos, wstring* out) {
        out->clear();
        for (std::size_t i = *pos + 1; i < text.size(); ++i) {
            WCHAR c = text[i];
            if (c == '"') {
                *pos = i + 1;
                return true;
            }
            if (c == '\\') {
                if (i + 1 == text.size())
                    break;
                WCHAR next = text[++i];
                if (next != '\\' && next != '"') {
                    return fail("unsupported escape \\" + to_utf8(wstring(1, next)) +
                                " (only \\\\ and \\\" are allowed)");
                }
                c = next;
            }
            out->push_back(c);
        }
        return fail("unterminated string");
    }

    bool value_line(const wstring& text) {
        if (m_blocks->empty())
            return fail("a value before the first [key] line");
        reg_key_block& block = m_blocks->back();
        if (block.remove)
            return fail("a value below a [-key] deletion");
        reg_value_line value;
        std::size_t pos = 1;  // past '@'
        if (text[0] == '"') {
            pos = 0;
            if (!quoted(text, &pos, &value.name))
                return false;
            if (value.name.find('\r') != wstring::npos)
                return fail("carriage return in the value name");
        }
        while (pos < text.size() && is_space(text[pos]))
            ++pos;
        if (pos == text.size() || text[pos] != '=')
            return fail("expected '=' after the value name");
        wstring data = trim(text.substr(pos + 1));
        if (!value_data(data, &value))
            return false;
        block.values.push_back(std::move(value));
        return true;
    }

    bool value_data(const wstring& data, reg_value_line* value) {
        if (data == ascii("-")) {
            value->remove = true;
            return true;
        }
        if (!data.empty() && data[0] == '"') {
            std::size_t pos = 0;
            wstring text;
            if (!quoted(data, &pos, &text))
                return false;
            if (!trim(data.substr(pos)).empty())
                return fail("text after the closing quote");
            value->type = REG_SZ;
            value->data = bytes_of(text + WCHAR(0));
            return true;
        }
        if (starts_with_ignoring_case(data, "dword:")) {
            std::uint64_t number = 0;
            if (!parse_hex_number(data.substr(6), 8, &number)) {
                return fail("dword: needs 1 to 8 hexadecimal digits");
            }
            value->type = REG_DWORD;
            for (int i = 0; i < 4; ++i)
                value->data.push_back(static_cast<BYTE>(number >> (8 * i)));
            return true;
        }
        if (starts_with_ignoring_case(data, "hex:")) {
            value->type = REG_BINARY;
            return hex_list(data.substr(4), &value->data);
        }
        if (starts_with_ignoring_case(data, "hex(")) {
            std::size_t close = data.find(ascii("):"));
            std::uint64_t type = 0;
            if (close == wstring::npos || !parse_hex_number(data.substr(4, close - 4), 8, &type)) {
                return fail("hex(N): needs a type number of 1 to 8 hexadecimal digits");
            }
            value->type = static_cast<DWORD>(type);
            return hex_list(data.substr(close + 2), &value->data);
        }
        return fail("unrecognised value data (expected \"text\", dword:, hex:, hex(N): or -)");
    }

    // Comma-separated bytes; a trailing backslash continues on the next line.
    bool hex_list(wstring list, std::vector<BYTE>* out) {
        list = trim(list);
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (m_index + 1 >= m_lines.size())
                return fail("the file ends inside a continued line");
            list += trim(m_lines[++m_index]);
        }
        if (list.empty())
            return true;
        std::size_t start = 0;
        for (;;) {
            std::size_t comma = list.find(',', start);
            wstring item =
                trim(list.substr(start, comma == wstring::npos ? wstring::npos : comma - start));
            std::uint64_t byte = 0;
            if (!parse_hex_number(item, 2, &byte)) {
                return fail("bad byte '" + to_utf8(item) + "' in a hex list");
            }
            out->push_back(static_cast<BYTE>(byte));
            if (comma == wstring::npos)
                return true;
            start = comma + 1;
        }
    }

    std::vector<wstring> m_lines;
    std::vector<reg_key_block>* m_blocks;
    std::size_t m_index = 0;
    std::string m_error;
};

bool has_line_break(const wstring& text) {
    return text.find('\r') != wstring::npos || text.find('\n') != wstring::npos;
}

wstring escaped(const wstring& text) {
    wstring out;
    for (WCHAR c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// The text of a REG_SZ value that reads back as the same bytes, or false.
bool plain_string(const std::vector<BYTE>& data, wstring* text) {
    if (data.size() < 2 || data.size() % 2 != 0)
        return false;
    wstring units = units_of(data);
    if (units.back() != 0)
        return false;
    units.pop_back();
    if (units.find(WCHAR(0)) != wstring::npos || has_line_break(units))
        return false;
    *text = units;
    return true;
}

}  // namespace

bool parse_reg_file(const std::vector<unsigned char>& file, std::vector<reg_key_block>* blocks,
                    std::string* error) {
    blocks->clear();
    wstring text;
    if (!decode(file, &text, error))
        return false;
    parser reader(split_lines(text), blocks);
    return reader.run(error);
}

reg_writer::reg_writer() {
    line(ascii(kHeader));
}

void reg_writer::line(const wstring& text) {
    m_text += text;
    m_text += ascii("\r\n");
}

bool reg_writer::key(const wstring& full_path) {
    if (has_line_break(full_path))
        return false;
    line(wstring());
    line(ascii("[") + full_path + ascii("]"));
    return true;
}

bool reg_writer::value(const wstring& name, DWORD type, const std::vector<BYTE>& data) {
    if (has_line_break(name))
        return false;
    wstring text = name.empty() ? ascii("@=") : ascii("\"") + escaped(name) + ascii("\"=");
    wstring plain;
    char prefix[24];
    if (type == REG_SZ && plain_string(data, &plain)) {
        line(text + ascii("\"") + escaped(plain) + ascii("\""));
        return true;
    }
    if (type == REG_DWORD && data.size() == 4) {
        unsigned number =
            data[0] | data[1] << 8 | data[2] << 16 | static_cast<unsigned>(data[3]) << 24;
        std::snprintf(prefix, sizeof prefix, "dword:%08x", number);
        line(text + ascii(prefix));
        return true;
    }
    if (type == REG_BINARY) {
        std::snprintf(prefix, sizeof prefix, "hex:");
    } else {
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
    }
    text += ascii(prefix);
    std::size_t column = text.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        char item[4];
        std::snprintf(item, sizeof item, i + 1 < data.size() ? "%02x," : "%02x", data[i]);
        if (column + 3 > kWrapColumn) {
            text += ascii("\\\r\n  ");
            column = 2;
        }
        text += ascii(item);
        column += i + 1 < data.size() ? 3 : 2;
    }
    line(text);
    return true;
}

std::vector<unsigned char> reg_writer::bytes() const {
    std::vector<unsigned char> out = {0xFF, 0xFE};
    for (WCHAR unit : m_text + ascii("\r\n")) {
        out.push_back(static_cast<unsigned char>(unit & 0xFF));
        out.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return out;
}

}  // namespace kesreg
