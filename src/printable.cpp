// printable: see printable.h. The UTF-8 is checked here, by its
// definition, rather than with the C library's multibyte functions, which
// follow the locale; the locale is asked only whether its terminal reads
// UTF-8.
#include "printable.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <langinfo.h>
#include <locale.h>

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// The length of the well-formed UTF-8 sequence at text[at], and its code
// point; 0 if the bytes there are no such sequence.
std::size_t sequence_at(std::string_view text, std::size_t at, char32_t *code)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t value = 0, least = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, value = lead & 0x1f, least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, value = lead & 0x0f, least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[at + k]);
        if (!is_continuation(byte))
            return 0;
        value = value << 6 | (byte & 0x3f);
    }
    if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return 0;
    *code = value;
    return length;
}

bool is_hidden_control(char32_t code)
{
    return (code >= 0x80 && code <= 0x9f)             // C1 controls
           || code == 0x2028 || code == 0x2029         // line, paragraph separators
           || code == 0x061c                           // Arabic letter mark
           || code == 0x200e || code == 0x200f         // left-to-right, right-to-left marks
           || (code >= 0x202a && code <= 0x202e)       // bidirectional embedding, override
           || (code >= 0x2066 && code <= 0x2069);      // bidirectional isolates
}

bool names_utf8(const char *codeset)
{
    std::string name;
    for (const char *c = codeset; *c; ++c)
        if (*c != '-' && *c != '_')
            name += static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
    return name == "utf8";
}

// Whether the user's locale reads text as UTF-8. A locale that isn't
// installed is judged by the character set its name gives (en_US.UTF-8),
// as the terminal it was chosen for would be.
bool locale_reads_utf8()
{
    if (locale_t chosen = newlocale(LC_CTYPE_MASK, "", nullptr)) {
        const bool utf8 = names_utf8(nl_langinfo_l(CODESET, chosen));
        freelocale(chosen);
        return utf8;
    }
    const char *name = nullptr;
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (const char *value = std::getenv(variable); value && *value) {
            name = value;
            break;
        }
    const char *dot = name ? std::strchr(name, '.') : nullptr;
    if (!dot)
        return false;
    return names_utf8(std::string(dot + 1, std::strcspn(dot + 1, "@")).c_str());
}

} // namespace

std::string printable(std::string_view text)
{
    const bool utf8 = locale_reads_utf8();
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            shown += byte < 0x20 || byte == 0x7f ? '?' : static_cast<char>(byte);
            ++at;
            continue;
        }
        char32_t code = 0;
        const std::size_t length = sequence_at(text, at, &code);
        if (length == 0) {
            shown += '?';
            ++at;
        } else {
            if (is_hidden_control(code)) {
                shown += '?';
            } else {
                for (std::size_t k = at; k < at + length; ++k) {
                    const auto b = static_cast<unsigned char>(text[k]);
                    shown += !utf8 && b >= 0x80 && b <= 0x9f ? '?' : text[k];
                }
            }
            at += length;
        }
    }
    return shown;
}
