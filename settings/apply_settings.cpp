#include "settings.h"

#include <string.h>

#include "registry_writer.h"

namespace {

void ApplyGuestOnly(bool forceGuestOnly) {
    RegistryKey key;
    if (RegistryOpenKey(kServicesKey, &key) != kRegistryOk) return;
    if (forceGuestOnly) {
        RegistryWriteNumber(key, kGuestOnlyValue, 1);
    } else {
        // Off is the absence of the value; deleting one that is not there is just as good.
        RegistryDeleteValue(key, kGuestOnlyValue);
    }
    RegistryCloseKey(key);
}

void ApplyCommand(const char* path, bool run, const char* command) {
    RegistryKey key;
    // The subkey is created even when the box is cleared, so it always exists after OK.
    if (RegistryOpenKey(path, &key) != kRegistryOk) return;
    if (!run) {
        RegistryDeleteValue(key, kTestAppValue);
    } else if (command[0] != '\0') {
        // Never read past the buffer, even if a caller left it unterminated.
        char text[kCommandBufferSize];
        size_t length = 0;
        while (length < kCommandBufferSize - 1 && command[length] != '\0') ++length;
        memcpy(text, command, length);
        text[length] = '\0';
        RegistryWriteCommand(key, kTestAppValue, text, static_cast<uint32_t>(length + 1));
    }
    // A checked box with an empty command keeps the stored command: an empty one would start nothing.
    RegistryCloseKey(key);
}

}  // namespace

void ApplySettings(const FormState& form) {
    ApplyGuestOnly(form.forceGuestOnly);
    ApplyCommand(kConnectKey, form.runOnConnect, form.connectCommand);
    ApplyCommand(kDisconnectKey, form.runOnDisconnect, form.disconnectCommand);
}
