// Runs a fuzz target over files, without libFuzzer: every argument is a
// file or a directory whose regular files are read in name order, and each
// file's bytes are handed to LLVMFuzzerTestOneInput in an exact-size buffer.
// A violated property stops the program (the targets trap), so a replay run
// is an ordinary test. Exits non-zero when no input was found.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputsOf(const fs::path& path)
{
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(path)) {
        files.push_back(path);
    } else {
        std::fprintf(stderr, "replay: no such file or directory: %s\n", path.c_str());
    }
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::vector<fs::path> found = inputsOf(argv[i]);
        files.insert(files.end(), found.begin(), found.end());
    }
    if (files.empty()) {
        std::fprintf(stderr, "replay: no inputs (usage: %s FILE-OR-DIRECTORY...)\n", argv[0]);
        return 1;
    }
    for (const fs::path& file : files) {
        std::ifstream stream(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
        if (!stream.eof() && stream.fail()) {
            std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            return 1;
        }
        std::printf("replay: %s (%zu bytes)\n", file.filename().c_str(), bytes.size());
        std::fflush(stdout);
        // A heap block of exactly the input's size, as libFuzzer passes it,
        // so that a read past the end is caught by the address sanitizer.
        std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), data.get());
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
