// Builds the form the dialog would hand over, for the tests' tables.
#ifndef CONFIGTOOL_TESTS_FORM_H
#define CONFIGTOOL_TESTS_FORM_H

#include <string.h>

#include <string>

#include "settings.h"

inline FormState Form(bool guest, bool runConnect, const std::string& connect, bool runDisconnect,
                      const std::string& disconnect) {
    FormState form;
    memset(&form, 0, sizeof form);
    form.forceGuestOnly = guest;
    form.runOnConnect = runConnect;
    form.runOnDisconnect = runDisconnect;
    connect.copy(form.connectCommand, kCommandBufferSize - 1);
    disconnect.copy(form.disconnectCommand, kCommandBufferSize - 1);
    return form;
}

#endif
