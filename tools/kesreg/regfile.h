// .reg files in the "Windows Registry Editor Version 5.00" format.
//
// Reading is strict, because a .reg file is text that anyone may have
// written: the header line must come first, every line must be a key line
// ([path] or [-path]), a value line ("name"=..., @=..., "name"=-), a comment
// (;...) or blank, and every value must be well formed. The whole file is
// parsed before anything is applied, so a file with an error changes
// nothing; the error names the line.
//
// Accepted value forms: "text" (REG_SZ, escapes \\ and \" only), dword:
// (1 to 8 hexadecimal digits), hex: (REG_BINARY) and hex(N): (type N in
// hexadecimal) with comma-separated bytes that may continue on the next line
// after a trailing backslash, and - (delete). Files are UTF-16LE with a byte
// order mark or UTF-8 (with or without one).
//
// Writing produces what the registry editor writes: UTF-16LE with a byte
// order mark, CRLF line ends, hexadecimal lists wrapped at 80 columns. A
// string value is written as "text" only when that reads back to the same
// bytes (one terminator at the end, no other NUL, no line break); otherwise
// as hex(1): so that export and import reproduce values exactly.
#pragma once

#include "regtext.h"

#include <string>
#include <vector>

namespace kesreg {

struct reg_value_line {
    wstring name;         // "" for @, the default value
    bool remove = false;  // "name"=-
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct reg_key_block {
    key_path path;
    bool remove = false;  // [-path]
    std::vector<reg_value_line> values;
};

// Parses a whole file. False with a message ("line N: ...") on any error.
bool parse_reg_file(const std::vector<unsigned char>& file, std::vector<reg_key_block>* blocks,
                    std::string* error);

// Builds a file's text, then its bytes.
class reg_writer {
  public:
    reg_writer();
    // Starts the block of the key `full_path` ("HKEY_LOCAL_MACHINE\...").
    // False when the path cannot be written in the format (a line break).
    bool key(const wstring& full_path);
    // Adds a value line to the current block. False when the name cannot be
    // written in the format (a line break).
    bool value(const wstring& name, DWORD type, const std::vector<BYTE>& data);
    // UTF-16LE with a byte order mark.
    std::vector<unsigned char> bytes() const;

  private:
    void line(const wstring& text);
    wstring m_text;
};

}  // namespace kesreg
