// Runs a fuzz target over files or folders of inputs, without the fuzzing engine: the
// checked-in corpus and every input that once found a fault replay in every build.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replayFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    std::fclose(file);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int files = 0;
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat info;
        if (stat(argv[i], &info) != 0) {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            ++failures;
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            failures += replayFile(argv[i]);
            ++files;
            continue;
        }
        DIR* dir = opendir(argv[i]);
        while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            failures += replayFile(std::string(argv[i]) + "/" + entry->d_name);
            ++files;
        }
        if (dir != nullptr) {
            closedir(dir);
        }
    }
    std::printf("replayed %d inputs\n", files);
    return failures == 0 && files > 0 ? 0 : 1;
}
