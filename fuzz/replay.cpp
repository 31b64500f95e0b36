// Runs the fuzz target once over each file named on the command line, as
// libFuzzer would, for builds without libFuzzer: the regression files stay
// tested by the normal build. Each file's name goes to stderr before it runs,
// so a file that breaks the target (a crash or a sanitizer's report) is named.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "replay: cannot read '%s'\n", argv[i]);
            return 1;
        }
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
        std::fprintf(stderr, "replay: %s\n", argv[i]);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    return 0;
}
