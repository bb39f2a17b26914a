// A fuzz target without libFuzzer: runs every file of the given folders through the target once
// (the seed corpus first, which must not be empty; folders of saved regressions may be missing).
//   fuzz_NAME_regression CORPUS [REGRESSIONS...]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

int runFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
    }
    std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
    std::fflush(stdout);
    // A crash, leak or verifier failure aborts inside the target, naming the file above.
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fprintf(stderr, "usage: %s CORPUS [REGRESSIONS...]\n", argv[0]);
        return 2;
    }
    std::error_code error;
    if (!fs::is_directory(args[0], error) || filesIn(args[0]).empty()) {
        std::fprintf(stderr, "the seed corpus %s is missing or empty\n", args[0].c_str());
        return 1;
    }
    std::size_t inputs = 0;
    for (const std::string& folder : args) {
        if (!fs::is_directory(folder, error)) continue;
        for (const fs::path& file : filesIn(folder)) {
            if (runFile(file) != 0) return 1;
            ++inputs;
        }
    }
    std::printf("%zu inputs ran cleanly\n", inputs);
    return 0;
}
