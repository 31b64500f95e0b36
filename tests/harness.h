// harness: what the end-to-end tests share: fresh working directories, runs
// of the built binary, and a second PNG decoder (libpng) to read the outputs.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

// A fresh, empty directory under the system's temporary directory.
fs::path make_temp_dir();
// Removes a directory made by make_temp_dir, whatever its permissions.
void remove_temp_dir(const fs::path &dir);

struct run_result {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out;  // everything written to stdout
    std::string err;  // everything written to stderr
};

// Runs binary with args (not counting argv[0]) in dir. before_exec runs in
// the child just before the exec, to set limits, a umask or another user.
run_result run_binary(const std::string &binary, const fs::path &dir,
                      const std::vector<std::string> &args,
                      const std::function<void()> &before_exec = {});
run_result run_pixremap(const fs::path &dir, const std::vector<std::string> &args,
                        const std::function<void()> &before_exec = {});

// A before_exec that preloads fault_injection.c into the run with the given
// faults ("no_tmpfile,dir_sync_eio"); see that file.
std::function<void()> with_faults(const std::string &faults);

// A file name as a test name: every character but letters and digits
// becomes '_'.
std::string test_name_of(const std::string &file);

// The path of the pixremap binary under test, and of the fixture directory.
std::string pixremap_binary();
fs::path fixture(const std::string &name);

// Every input file the tests keep that decodes or fails within seconds: the
// fixtures, the hostile files but those that hang the decoder by design
// ("endless") or take minutes ("16384"), and all of PngSuite; sorted.
std::vector<fs::path> quick_inputs();
// Whether the tests expect the file to decode: every fixture but those made
// to fail (empty, text and truncated files; see fixtures/README.md) and
// every image of PngSuite's valid set. Hostile and corrupt files may go
// either way.
bool expected_to_decode(const fs::path &file);

std::string read_file(const fs::path &file);
void write_file(const fs::path &file, const std::string &bytes);
// The SHA-256 of a file in hex, by coreutils' sha256sum.
std::string sha256_of(const fs::path &file);
// The names in dir, sorted.
std::vector<std::string> list_dir(const fs::path &dir);

struct decoded {
    int width = 0, height = 0, channels = 0;
    std::vector<unsigned char> pixels;
    std::string error;  // empty when decoding worked
    // As the PNG header states them (libpng_decode only).
    int bit_depth = 0, colour_type = -1;
    bool interlaced = false;
};

// The file as stb_image decodes it, in its own channel count.
decoded stb_decode(const fs::path &file);
// A PNG file read by libpng, rows de-interlaced and 16-bit samples cut to
// their high byte; the header's own depth and colour type are kept beside.
decoded libpng_decode(const fs::path &file);

// A binary PGM or PPM (P5, P6) read by the tests' own parser: 16-bit
// samples (maxval over 255) are cut to their high byte, as for PNG.
decoded pnm_decode(const fs::path &file);

// The PNG stb_image_write makes of packed 8-bit pixels at its defaults: the
// bytes every output is held to.
std::string stb_png(const unsigned char *pixels, int width, int height, int channels);

// Runs pixremap on file in dir and holds the run to the end `input` calls
// for: where input was decoded (its error empty), exit 0, nothing said,
// and both outputs, byte for byte, what stb_image_write makes of the maps
// applied to it; where it was refused, exit 1, one "cannot read" line
// naming the file, and nothing written.
void expect_run_ends_as(const fs::path &dir, const fs::path &file, const decoded &input);

// pixels with the colour samples passed through map (red, green and blue of
// 3- and 4-channel pixels, grey of 1- and 2-channel ones), the rest as is.
std::vector<unsigned char> apply_map(std::vector<unsigned char> pixels, int channels,
                                     unsigned char (*map)(unsigned char));

// The fixture of every test that works in files: a fresh directory, `dir`,
// for each test, removed after it whatever it holds. `Base` is
// testing::Test, or testing::TestWithParam<P> for a parameterised test
// (with_temp_dir<P>).
template <class Base = testing::Test>
class temp_dir_fixture : public Base {
protected:
    fs::path dir = make_temp_dir();
    void TearDown() override { remove_temp_dir(dir); }

    // Copies a fixture into dir, under its own name or another.
    void put(const std::string &name, const std::string &as = "")
    {
        fs::copy_file(fixture(name), dir / (as.empty() ? name : as));
    }
};

template <class Param>
using with_temp_dir = temp_dir_fixture<testing::TestWithParam<Param>>;
