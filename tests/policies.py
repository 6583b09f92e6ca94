"""The administrative templates, read: each policy's registry writes when it is set to Enabled or
Disabled, as Group Policy writes them."""
import xml.etree.ElementTree as ElementTree

from configtool.program import DWORD, SZ

NS = {"pd": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
# A set of the three policies for each registry view of 64-bit Windows: its category, and what
# its policies' names end in.
CATEGORIES = {"32": ("WindowsCEServices", ""), "64": ("WindowsCEServices64", "64")}


def read_templates(source):
    admx = ElementTree.parse(source / "deploy" / "ConfigTool.admx").getroot()
    adml = ElementTree.parse(source / "deploy" / "en-US" / "ConfigTool.adml").getroot()
    return admx, adml


def value_of(element):
    """A template's value: None for <delete/>, else (type, bytes)."""
    (child,) = list(element)
    kind = child.tag.split("}")[1]
    if kind == "delete":
        return None
    if kind == "decimal":
        return DWORD, int(child.get("value")).to_bytes(4, "little")
    return SZ, child.text.encode("cp1252") + b"\0"


def policy_writes(policy, enabled, text=None):
    """The registry writes of a policy set to Enabled (with the text for its text element) or
    Disabled: (key, value name, value of value_of)."""
    key, writes = policy.get("key"), []
    single = policy.find("pd:enabledValue" if enabled else "pd:disabledValue", NS)
    if single is not None:
        writes.append((key, policy.get("valueName"), value_of(single)))
    listed = policy.find("pd:enabledList" if enabled else "pd:disabledList", NS)
    for item in listed if listed is not None else ():
        writes.append((item.get("key", key), item.get("valueName"), value_of(item.find("pd:value", NS))))
    for element in policy.findall("pd:elements/pd:text", NS) if enabled else ():
        writes.append((element.get("key", key), element.get("valueName"), (SZ, text.encode("cp1252") + b"\0")))
    return writes
