// Public test images nobody here made: the files tests/corpus/ keeps (see
// its README.md), and the whole public corpus wherever ../shared/corpus is
// present beside the project (developers' machines and CI). Every file ends
// one of two ways: stb_image, run plainly in a process of its own
// (reference/stb_oracle.c), decodes it, and pixremap writes what
// stb_image_write makes of those pixels after the two maps; or stb_image
// refuses it (or crashes or hangs on it), and pixremap prints one "cannot
// read" line, exits 1 and writes nothing.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>

#include "harness.h"

namespace {

// Every file under dir but the notes and scripts kept beside the images;
// none if dir isn't there.
std::vector<fs::path> files_under(const fs::path &dir)
{
    std::vector<fs::path> files;
    std::error_code absent;
    for (const auto &entry : fs::recursive_directory_iterator(dir, absent))
        if (entry.is_regular_file() && entry.path().extension() != ".md" && entry.path().extension() != ".sh")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// "WIDTH HEIGHT CHANNELS\n" and the samples, as stb_oracle and the Pillow
// script below write them; a run that ended otherwise is a refusal.
decoded parse_decode(const run_result &run)
{
    decoded image;
    const std::size_t line_end = run.out.find('\n');
    if (run.status != 0 || line_end == std::string::npos ||
        std::sscanf(run.out.substr(0, line_end).c_str(), "%d %d %d", &image.width, &image.height,
                    &image.channels) != 3) {
        image.error = "status " + std::to_string(run.status) + ": " + run.err;
        return image;
    }
    image.pixels.assign(run.out.begin() + static_cast<std::ptrdiff_t>(line_end) + 1, run.out.end());
    return image;
}

// stb_image refuses a file it hasn't decoded in a minute of processor time
// and 4 GiB; pixremap's own budgets are far below that.
void limit_reference()
{
    const rlimit seconds = {60, 60}, bytes = {4ull << 30, 4ull << 30};
    setrlimit(RLIMIT_CPU, &seconds);
    setrlimit(RLIMIT_AS, &bytes);
}

// An OS/2 bitmap with a palette (12-byte header, at most 8 bits a pixel):
// stb_image 2.27 reads its palette short, pixremap reads it whole (README,
// "Where pixremap differs"), so it is held to a second decoder, Pillow.
bool is_os2_palette_bmp(const fs::path &file)
{
    const std::string head = read_file(file).substr(0, 26);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    return head.size() == 26 && head.compare(0, 2, "BM") == 0 && byte(14) == 12 && byte(15) == 0 &&
           byte(16) == 0 && byte(17) == 0 && byte(24) <= 8 && byte(25) == 0;
}

decoded reference_decode(const fs::path &file, const fs::path &dir)
{
    if (!is_os2_palette_bmp(file))
        return parse_decode(run_binary(STB_ORACLE_BINARY, dir, {file.string()}, limit_reference));
    const char *pillow = "import sys\n"
                         "from PIL import Image\n"
                         "im = Image.open(sys.argv[1]).convert('RGB')\n"
                         "sys.stdout.buffer.write(b'%d %d 3\\n' % im.size + im.tobytes())\n";
    return parse_decode(run_binary("/usr/bin/python3", dir, {"-c", pillow, file.string()}, limit_reference));
}

using corpus = with_temp_dir<fs::path>;

TEST_P(corpus, ends_as_stb_decodes_it)
{
    expect_run_ends_as(dir, GetParam(), reference_decode(GetParam(), dir));
}

std::string name_under(const fs::path &file, const fs::path &root)
{
    return test_name_of(file.lexically_relative(root).string());
}

INSTANTIATE_TEST_SUITE_P(vendored, corpus, testing::ValuesIn(files_under(VENDORED_CORPUS_DIR)),
                         [](const auto &p) { return name_under(p.param, VENDORED_CORPUS_DIR); });
INSTANTIATE_TEST_SUITE_P(shared, corpus, testing::ValuesIn(files_under(SHARED_CORPUS_DIR)),
                         [](const auto &p) { return name_under(p.param, SHARED_CORPUS_DIR); });

// Where the shared corpus isn't here (a fresh clone elsewhere, the Debian
// package's build), only the vendored files ran, and this says so.
TEST(shared_corpus, is_present_and_run_whole)
{
    if (!fs::is_directory(SHARED_CORPUS_DIR))
        GTEST_SKIP() << SHARED_CORPUS_DIR << " is not here: the whole public corpus did not run, only the "
                     << files_under(VENDORED_CORPUS_DIR).size() << " files tests/corpus/ keeps";
    EXPECT_FALSE(files_under(SHARED_CORPUS_DIR).empty()) << SHARED_CORPUS_DIR << " holds no files";
}

} // namespace
