"""The numbers and names the tests share with ConfigTool, read from its own headers, and the
Win32 constants they are compared with."""
import pathlib
import re

SOURCE = pathlib.Path(__file__).resolve().parents[2]


def _read(path):
    return (SOURCE / path).read_text()


_resources = {name: int(value) for name, value in
              re.findall(r"^#define (ID\w+) (\d+)$", _read("ui/resource.h"), re.M)}
_settings = {name: value.replace("\\\\", "\\") for name, value in
             re.findall(r'^const char (k\w+)\[\] = "(.*)";$', _read("settings/settings.h"), re.M)}

# Controls by id; OK and Cancel are Windows' own IDOK and IDCANCEL.
GUEST_BOX = _resources["IDC_FORCE_GUESTONLY"]
CONNECT_EDIT = _resources["IDC_CONNECT_APP"]
CONNECT_BOX = _resources["IDC_RUN_ON_CONNECT"]
DISCONNECT_EDIT = _resources["IDC_DISCONNECT_APP"]
DISCONNECT_BOX = _resources["IDC_RUN_ON_DISCONNECT"]
OK, CANCEL = 1, 2
TAB_ORDER = [GUEST_BOX, CONNECT_EDIT, CONNECT_BOX, OK, CANCEL, DISCONNECT_EDIT, DISCONNECT_BOX]

# Key paths below HKEY_LOCAL_MACHINE, and the subkeys' names below the settings key.
SERVICES = _settings["kServicesKey"]
CONNECT_KEY, DISCONNECT_KEY = _settings["kConnectKey"], _settings["kDisconnectKey"]
CONNECT, DISCONNECT = (key[len(SERVICES) + 1:] for key in (CONNECT_KEY, DISCONNECT_KEY))
GUEST_ONLY, TEST_APP = _settings["kGuestOnlyValue"], _settings["kTestAppValue"]
COMMAND_BUFFER_SIZE = int(re.search(r"kCommandBufferSize = (\d+);", _read("settings/settings.h")).group(1))

# Registry value types (winnt.h).
SZ, BINARY, DWORD = 1, 3, 4
