// The settings that ConfigTool writes for the Windows CE Services connection software, and the
// form that the dialog hands over when the user presses OK.
#ifndef CONFIGTOOL_SETTINGS_SETTINGS_H
#define CONFIGTOOL_SETTINGS_SETTINGS_H

// Key paths under HKEY_LOCAL_MACHINE: the settings apply to every user of the computer.
const char kServicesKey[] = "Software\\Microsoft\\Windows CE Services";
const char kConnectKey[] = "Software\\Microsoft\\Windows CE Services\\AutoStartOnConnect";
const char kDisconnectKey[] = "Software\\Microsoft\\Windows CE Services\\AutoStartOnDisconnect";

// REG_DWORD 1 under kServicesKey; absent means guest connections are not forced.
const char kGuestOnlyValue[] = "GuestOnly";
// REG_SZ under each of the two subkeys; absent means no program is started.
const char kTestAppValue[] = "TestApp";

// A command is at most 255 single-byte characters and its terminating NUL.
const unsigned kCommandBufferSize = 256;

struct FormState {
    bool forceGuestOnly;
    bool runOnConnect;
    char connectCommand[kCommandBufferSize];
    bool runOnDisconnect;
    char disconnectCommand[kCommandBufferSize];
};

// Rewrites all three settings from the form alone, whatever is stored. Failures pass silently:
// a key that cannot be opened is skipped and the remaining settings are still applied.
void ApplySettings(const FormState& form);

#endif
