// PngSuite, every file end to end: where stb_image decodes the file, the
// tool exits 0 and both outputs are, byte for byte, what stb_image_write
// makes of the maps applied to that decode; where it refuses the file, the
// tool gives one "cannot read" line and writes nothing.
#include <gtest/gtest.h>

#include "harness.h"
#include "remap/remap.h"

namespace {

std::vector<fs::path> pngsuite_files()
{
    std::vector<fs::path> files;
    for (const fs::path &file : quick_inputs())
        if (file.parent_path().parent_path() == PNGSUITE_DIR)
            files.push_back(file);
    return files;
}

using pngsuite = with_temp_dir<fs::path>;

TEST_P(pngsuite, runs_as_stb_decodes_it)
{
    const fs::path file = GetParam();
    const decoded input = stb_decode(file);
    const run_result run = run_pixremap(dir, {file.string()});
    if (!input.error.empty()) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.rfind("pixremap: cannot read '" + file.string() + "': ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(list_dir(dir).empty());
        return;
    }
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto first = apply_map(input.pixels, input.channels, digit_remap);
    const auto second = apply_map(first, input.channels, bit_remap);
    EXPECT_TRUE(read_file(dir / "outfirst.png") == stb_png(first.data(), input.width, input.height, input.channels));
    EXPECT_TRUE(read_file(dir / "outsecond.png") == stb_png(second.data(), input.width, input.height, input.channels));
    EXPECT_TRUE(libpng_decode(dir / "outsecond.png").pixels == second);
}

INSTANTIATE_TEST_SUITE_P(all, pngsuite, testing::ValuesIn(pngsuite_files()),
                         [](const testing::TestParamInfo<fs::path> &p) {
                             return test_name_of(p.param.parent_path().filename().string() + "_" +
                                                 p.param.stem().string());
                         });

} // namespace
