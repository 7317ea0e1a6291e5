// Runs a fuzz target's entry point over files, without libFuzzer: the seeds
// and the inputs that once failed are replayed in every ordinary build, so a
// fixed fault stays fixed under the default, address and thread builds.
//
//   replay_<name> <file or folder> ...
//
// Each file is one input; a folder stands for the files in it. The target
// aborts on a broken invariant; the exit status is 0 when every input ran.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool Replay(const std::filesystem::path& thePath) {
    std::ifstream file(thePath, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "replay: cannot read %s\n", thePath.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so that the address sanitizer sees
    // any read beyond it, as under the fuzzer.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    ok = Replay(entry.path()) && ok;
                    ++inputs;
                }
            }
        } else if (std::filesystem::exists(path, error)) {
            ok = Replay(path) && ok;
            ++inputs;
        }
    }
    std::printf("replayed %d inputs\n", inputs);
    return ok ? 0 : 1;
}
