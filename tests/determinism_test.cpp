// No memory the file didn't fill reaches the pixels: every input file is
// loaded twice, each time in a fresh process whose freed heap and stack
// were filled beforehand with a different byte (tests/dirty_decode.cpp),
// and both loads must give the same result (a decoding one, for the files
// the tests expect to decode).
#include <gtest/gtest.h>

#include <cstdlib>

#include "harness.h"

namespace {

using inputs = with_temp_dir<fs::path>;

TEST_P(inputs, decode_the_same_whatever_memory_held_before)
{
    std::string seen[2];
    for (int i = 0; i < 2; ++i) {
        const char *pattern = i == 0 ? "90" : "165";
        const run_result run = run_binary(DIRTY_DECODE_BINARY, dir, {pattern, GetParam().string()},
                                          [pattern] { setenv("MALLOC_PERTURB_", pattern, 1); });
        ASSERT_EQ(run.status, 0) << run.err;
        seen[i] = run.out;
    }
    EXPECT_EQ(seen[0], seen[1]);
    // Two equal failures prove nothing where the file should decode.
    if (expected_to_decode(GetParam())) {
        EXPECT_EQ(seen[0].find("error"), std::string::npos) << seen[0];
    }
}

INSTANTIATE_TEST_SUITE_P(all, inputs, testing::ValuesIn(quick_inputs()),
                         [](const testing::TestParamInfo<fs::path> &p) {
                             return test_name_of(p.param.parent_path().filename().string() + "_" +
                                                 p.param.filename().string());
                         });

} // namespace
