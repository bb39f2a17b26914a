// A fuzz target without libFuzzer: runs every file of the given folders through the target once
// (the seed corpus first, which must not be empty; folders of saved regressions may be missing).
//   fuzz_NAME_regression CORPUS [REGRESSIONS...]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
        if (i == 1 && files.empty()) {
            std::fprintf(stderr, "the seed corpus %s is missing or empty\n", argv[i]);
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                                  std::istreambuf_iterator<char>());
            // A crash, leak or verifier failure aborts inside the target, naming the file.
            std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++inputs;
        }
    }
    if (argc < 2) std::fprintf(stderr, "usage: %s CORPUS [REGRESSIONS...]\n", argv[0]);
    std::printf("%zu inputs ran cleanly\n", inputs);
    return argc < 2 ? 2 : 0;
}
