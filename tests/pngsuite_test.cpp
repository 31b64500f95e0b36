// PngSuite, every file end to end: where stb_image decodes the file, the
// tool exits 0 and both outputs are, byte for byte, what stb_image_write
// makes of the maps applied to that decode; where it refuses the file, the
// tool gives one "cannot read" line and writes nothing.
#include <gtest/gtest.h>

#include "harness.h"

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
    expect_run_ends_as(dir, GetParam(), stb_decode(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(all, pngsuite, testing::ValuesIn(pngsuite_files()),
                         [](const testing::TestParamInfo<fs::path> &p) {
                             return test_name_of(p.param.parent_path().filename().string() + "_" +
                                                 p.param.stem().string());
                         });

} // namespace
