// The .reg file reader of kesreg: never crashes on any file, and every file
// it accepts that holds no deletions is written back by the writer to a file
// that reads as the same keys and values.
#include "fuzz_support.h"

#include "regfile.h"

#include <string>
#include <vector>

namespace {

bool SameBlocks(const std::vector<kesreg::reg_key_block>& a,
                const std::vector<kesreg::reg_key_block>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].path.root != b[i].path.root || a[i].path.below != b[i].path.below ||
            a[i].remove != b[i].remove || a[i].values.size() != b[i].values.size())
            return false;
        for (std::size_t j = 0; j < a[i].values.size(); ++j) {
            const kesreg::reg_value_line& x = a[i].values[j];
            const kesreg::reg_value_line& y = b[i].values[j];
            if (x.name != y.name || x.remove != y.remove || x.data != y.data)
                return false;
            // A four-byte hex(4): comes back as dword:, which has the same type.
            if (x.type != y.type)
                return false;
        }
    }
    return true;
}

bool HasDeletion(const std::vector<kesreg::reg_key_block>& theBlocks) {
    for (const kesreg::reg_key_block& block : theBlocks) {
        if (block.remove)
            return true;
        for (const kesreg::reg_value_line& value : block.values) {
            if (value.remove)
                return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<unsigned char> file(data, data + size);
    std::vector<kesreg::reg_key_block> blocks;
    std::string error;
    bool parsed = kesreg::parse_reg_file(file, &blocks, &error);
    if (!parsed) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    if (HasDeletion(blocks))
        return 0;

    kesreg::reg_writer writer;
    for (const kesreg::reg_key_block& block : blocks) {
        FUZZ_CHECK(writer.key(block.path.full()));
        for (const kesreg::reg_value_line& value : block.values)
            FUZZ_CHECK(writer.value(value.name, value.type, value.data));
    }
    std::vector<kesreg::reg_key_block> again;
    FUZZ_CHECK(kesreg::parse_reg_file(writer.bytes(), &again, &error));
    FUZZ_CHECK(SameBlocks(blocks, again));
    return 0;
}
