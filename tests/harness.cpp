#include "harness.h"

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include "decode/x87.h"
#include "remap/remap.h"
#include "stb_image.h"
#include "stb_write.h"

fs::path make_temp_dir()
{
    std::string pattern = (fs::temp_directory_path() / "pixremap-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void remove_temp_dir(const fs::path &dir)
{
    std::error_code ignored;
    for (auto &entry : fs::recursive_directory_iterator(dir, ignored))
        if (entry.is_directory(ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir, ignored);
}

run_result run_binary(const std::string &binary, const fs::path &dir,
                      const std::vector<std::string> &args,
                      const std::function<void()> &before_exec)
{
    // The captured streams live outside dir so that they never show up in it.
    const fs::path capture = make_temp_dir();
    const fs::path out_file = capture / "stdout", err_file = capture / "stderr";

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(binary.c_str()));
    for (auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(dir.c_str()) != 0)
            _exit(125);
        if (before_exec)
            before_exec();
        execv(binary.c_str(), argv.data());
        _exit(126);
    }
    run_result result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_file(out_file);
    result.err = read_file(err_file);
    remove_temp_dir(capture);
    return result;
}

std::function<void()> with_faults(const std::string &faults)
{
    return [faults] {
        setenv("LD_PRELOAD", FAULT_LIBRARY, 1);
        setenv("PIXREMAP_FAULTS", faults.c_str(), 1);
        // The sanitizers' runtime wants to be loaded first; here it can't be.
        const char *before = getenv("ASAN_OPTIONS");
        const std::string options = std::string(before ? before : "") + ":verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
    };
}

run_result run_pixremap(const fs::path &dir, const std::vector<std::string> &args,
                        const std::function<void()> &before_exec)
{
    return run_binary(pixremap_binary(), dir, args, before_exec);
}

std::string test_name_of(const std::string &file)
{
    std::string name = file;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

std::string pixremap_binary() { return PIXREMAP_BINARY; }

fs::path fixture(const std::string &name) { return fs::path(FIXTURE_DIR) / name; }

std::vector<fs::path> quick_inputs()
{
    std::vector<fs::path> files;
    for (const char *dir : {FIXTURE_DIR, HOSTILE_DIR, PNGSUITE_DIR "/valid", PNGSUITE_DIR "/corrupt"})
        for (const auto &entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename();
            const std::string ext = entry.path().extension();
            if (entry.is_regular_file() && ext != ".md" && ext != ".py" &&
                name.find("endless") == std::string::npos && name.find("16384") == std::string::npos)
                files.push_back(entry.path());
        }
    std::sort(files.begin(), files.end());
    return files;
}

bool expected_to_decode(const fs::path &file)
{
    const fs::path dir = file.parent_path();
    const std::string name = file.filename();
    if (dir == fs::path(PNGSUITE_DIR) / "valid")
        return true;
    return dir == fs::path(FIXTURE_DIR) && name != "empty.png" && name != "text.png" &&
           name.rfind("truncated.", 0) != 0;
}

std::string read_file(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const fs::path &file, const std::string &bytes)
{
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string sha256_of(const fs::path &file)
{
    const std::string command = "sha256sum '" + file.string() + "'";
    std::FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "";
    char hex[65] = {};
    const std::size_t n = std::fread(hex, 1, 64, pipe);
    pclose(pipe);
    return std::string(hex, n);
}

std::vector<std::string> list_dir(const fs::path &dir)
{
    std::vector<std::string> names;
    for (auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

decoded stb_decode(const fs::path &file)
{
    decoded image;
#if defined(__i386__)
    // On i386 the tool decodes a PSD with the x87 rounding each step to
    // float, as every other architecture's arithmetic does: so is the
    // decode it is held to.
    const bool psd = file.extension() == ".psd";
    const fpu_control_t x87 = psd ? x87_round_to_float() : 0;
#endif
    unsigned char *pixels = stbi_load(file.c_str(), &image.width, &image.height, &image.channels, 0);
#if defined(__i386__)
    if (psd)
        x87_restore(x87);
#endif
    if (!pixels) {
        image.error = stbi_failure_reason();
        return image;
    }
    image.pixels.assign(pixels, pixels + static_cast<std::size_t>(image.width) * image.height *
                                             image.channels);
    stbi_image_free(pixels);
    return image;
}

decoded libpng_decode(const fs::path &file)
{
    decoded image;
    std::FILE *in = std::fopen(file.c_str(), "rb");
    if (!in) {
        image.error = "cannot open";
        return image;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(in);
        image.pixels.clear();
        image.error = "libpng refused it";
        return image;
    }
    png_init_io(png, in);
    // libpng refuses images over a million pixels wide by default; PNG allows 2^31-1.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bit_depth = 0, colour_type = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bit_depth, &colour_type, &interlace, nullptr, nullptr);
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.bit_depth = bit_depth;
    image.colour_type = colour_type;
    image.interlaced = interlace != PNG_INTERLACE_NONE;
    if (bit_depth == 16)
        png_set_strip_16(png);  // keeps the high byte of each sample
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    image.channels = png_get_channels(png, info);
    const std::size_t row_bytes = png_get_rowbytes(png, info);
    image.pixels.resize(row_bytes * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = image.pixels.data() + y * row_bytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(in);
    return image;
}

decoded pnm_decode(const fs::path &file)
{
    decoded image;
    const std::string bytes = read_file(file);
    std::size_t at = 2;
    // The next header number, after whitespace and # comments.
    auto number = [&]() {
        while (at < bytes.size() && (std::isspace(static_cast<unsigned char>(bytes[at])) || bytes[at] == '#'))
            at = bytes[at] == '#' ? bytes.find('\n', at) : at + 1;
        int value = 0;
        for (; at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])); ++at)
            value = value * 10 + (bytes[at] - '0');
        return value;
    };
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) {
        image.error = "not a binary PGM or PPM";
        return image;
    }
    image.channels = bytes[1] == '6' ? 3 : 1;
    image.width = number();
    image.height = number();
    const int maxval = number();
    ++at;  // the single whitespace before the samples
    const std::size_t samples = static_cast<std::size_t>(image.width) * image.height * image.channels;
    const std::size_t sample_bytes = maxval > 255 ? 2 : 1;
    if (at > bytes.size() || bytes.size() - at < samples * sample_bytes) {
        image.error = "too short";
        return image;
    }
    for (std::size_t i = 0; i < samples; ++i)
        image.pixels.push_back(static_cast<unsigned char>(bytes[at + i * sample_bytes]));
    return image;
}

std::string stb_png(const unsigned char *pixels, int width, int height, int channels)
{
    int size = 0;
    unsigned char *png = reference_png(pixels, width, height, channels, &size);
    std::string bytes = png ? std::string(reinterpret_cast<char *>(png), static_cast<std::size_t>(size)) : "";
    std::free(png);
    return bytes;
}

void expect_run_ends_as(const fs::path &dir, const fs::path &file, const decoded &input)
{
    const run_result run = run_pixremap(dir, {file.string()});
    if (!input.error.empty()) {
        EXPECT_EQ(run.status, 1) << "refused by the reference (" << input.error << "), not by pixremap";
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

std::vector<unsigned char> apply_map(std::vector<unsigned char> pixels, int channels,
                                     unsigned char (*map)(unsigned char))
{
    const int colour = channels >= 3 ? 3 : 1;
    for (std::size_t i = 0; i < pixels.size(); ++i)
        if (static_cast<int>(i % channels) < colour)
            pixels[i] = map(pixels[i]);
    return pixels;
}
