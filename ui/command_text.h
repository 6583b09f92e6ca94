#ifndef CONFIGTOOL_UI_COMMAND_TEXT_H
#define CONFIGTOOL_UI_COMMAND_TEXT_H

#include <windows.h>

// Makes a command read into a buffer of kCommandBufferSize bytes end after its last whole
// character in the code page. An edit box may hold more bytes than the buffer (Wine counts its
// limit in characters), and a double-byte character cut in half by the buffer's end would be
// stored as a broken character that swallows the terminating NUL.
void CutAfterWholeCharacter(char* text, UINT codePage);

#endif
