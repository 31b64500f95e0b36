// printable: text from outside (a file name, the decoder's words) made safe
// to show on one line of a terminal.
//
// printable(text) keeps printable ASCII and well-formed UTF-8 as they are,
// so a name in any script reads as itself, and shows as '?' each of:
//  - C0 control characters and DEL, which break the line or start escape
//    sequences;
//  - C1 control characters (U+0080 to U+009F), whether as UTF-8 or as raw
//    bytes (0x9b is CSI to many terminals);
//  - the line and paragraph separators and every bidirectional control
//    (the marks, embeddings, overrides and isolates: Unicode's
//    Bidi_Control set), which would reorder or break what is shown around
//    them;
//  - every byte that isn't part of well-formed UTF-8 (stray continuation
//    bytes, cut-off, overlong and surrogate sequences, code points past
//    U+10FFFF);
//  - where the user's locale (LC_ALL, LC_CTYPE, LANG) doesn't read text as
//    UTF-8, as in ISO-8859-1 or the C locale, also each byte from 0x80 to
//    0x9F inside well-formed UTF-8: such a terminal takes each of those
//    bytes as a C1 control (0x9b, the second byte of U+00DB, is CSI).
#pragma once

#include <string>
#include <string_view>

std::string printable(std::string_view text);
