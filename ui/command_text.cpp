#include "command_text.h"

#include "settings.h"

void CutAfterWholeCharacter(char* text, UINT codePage) {
    CPINFO info;
    if (!GetCPInfo(codePage, &info) || info.MaxCharSize < 2) return;  // single-byte: whole already
    // From the start: a trail byte can have the value of a lead byte.
    unsigned i = 0;
    while (i < kCommandBufferSize - 1 && text[i] != '\0') {
        BYTE c = static_cast<BYTE>(text[i]);
        bool lead = false;
        for (const BYTE* range = info.LeadByte; range < info.LeadByte + MAX_LEADBYTES && range[0];
             range += 2)
            lead = lead || (c >= range[0] && c <= range[1]);
        if (!lead) {
            ++i;
        } else if (i + 1 < kCommandBufferSize - 1 && text[i + 1] != '\0') {
            i += 2;
        } else {
            break;  // a lead byte without its trail byte
        }
    }
    text[i] = '\0';
}
