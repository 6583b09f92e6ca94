#include "command_text.h"

#include "settings.h"

void CutAfterWholeCharacter(char* text, UINT codePage) {
    CPINFOEXA info;  // also names the code page that CP_ACP stands for
    if (!GetCPInfoExA(codePage, 0, &info) || info.MaxCharSize < 2) return;  // single-byte: whole
    // UTF-8 (65001, Windows' UTF-8 ANSI option) names no lead bytes: a character's first byte
    // tells its length. From the start, either way: a trail byte can look like a lead byte.
    const bool utf8 = info.CodePage == CP_UTF8;
    unsigned i = 0, start = 0, missing = 0;  // the last character: where it starts, bytes to come
    for (; i < kCommandBufferSize - 1 && text[i] != '\0'; ++i) {
        if (missing) {
            --missing;
            continue;
        }
        start = i;
        const BYTE c = static_cast<BYTE>(text[i]);
        if (utf8 && c >= 0xC0) missing = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        for (const BYTE* range = info.LeadByte; range < info.LeadByte + MAX_LEADBYTES && range[0];
             range += 2)
            if (c >= range[0] && c <= range[1]) missing = 1;
    }
    text[missing ? start : i] = '\0';
}
