"""The administrative templates, with no Wine: well formed, every reference in them resolves, and
their keys, value names and types are the program's own. And the Intune example in the documents.

usage: pytest templates_test.py --source SOURCE_DIR
"""
import re

from configtool.program import (COMMAND_BUFFER_SIZE, CONNECT_KEY, DISCONNECT_KEY, DWORD, GUEST_ONLY,
                                SERVICES, SZ, TEST_APP)
from policies import CATEGORIES, NS, policy_writes, read_templates

NAME = re.compile(r"^[A-Za-z0-9_]+$")


def test_templates(args):
    admx, adml = read_templates(args.source)
    assert admx.tag == f"{{{NS['pd']}}}policyDefinitions", f"ADMX root {admx.tag}"
    strings = {s.get("id") for s in adml.iterfind(".//pd:stringTable/pd:string", NS)}
    presentations = {p.get("id"): p for p in adml.iterfind(".//pd:presentationTable/pd:presentation", NS)}
    for element in admx.iter():
        for attribute, value in element.attrib.items():
            for table, ref in re.findall(r"\$\((string|presentation)\.([^)]*)\)", value):
                assert ref in (strings if table == "string" else presentations), f"{attribute}={value} does not resolve in the ADML"
        for attribute in ("name", "id"):
            if element.get(attribute) is not None:
                assert NAME.match(element.get(attribute)), f"{attribute} {element.get(attribute)!r}"
    for identifier in list(strings) + list(presentations):
        assert NAME.match(identifier), f"ADML id {identifier!r}"
    categories = {c.get("name") for c in admx.iterfind(".//pd:categories/pd:category", NS)}

    found = set()
    for policy in admx.iterfind(".//pd:policies/pd:policy", NS):
        assert policy.get("class") == "Machine", f"{policy.get('name')} is not a Computer policy"
        category = policy.find("pd:parentCategory", NS).get("ref")
        assert category in categories, "parent category"
        elements = {e.get("id"): e for e in policy.findall("pd:elements/*", NS)}
        if policy.get("presentation"):
            presentation = presentations[re.search(r"\.(\w+)\)", policy.get("presentation")).group(1)]
            for control in presentation:
                assert control.get("refId") in elements, f"refId {control.get('refId')} in {policy.get('name')}"
        for element in elements.values():
            assert (element.get("required") == "true" and
                   int(element.get("maxLength")) == COMMAND_BUFFER_SIZE - 1), f"{element.get('id')}: a required command of at most 255 characters"
        for enabled in (True, False):
            for key, name, value in policy_writes(policy, enabled, "X"):
                found.add((category, key, name, value or "delete"))
    want = set()
    # Enabled writes what a checked box writes (the command typed being "X"), Disabled deletes; in
    # the 32-bit view's category under Wow6432Node, where 64-bit Windows keeps a 32-bit program's
    # HKLM\\Software, in the 64-bit view's under the key itself.
    for view, (category, _) in CATEGORIES.items():
        for key, name, value in ((SERVICES, GUEST_ONLY, (DWORD, b"\1\0\0\0")),
                                 (CONNECT_KEY, TEST_APP, (SZ, b"X\0")),
                                 (DISCONNECT_KEY, TEST_APP, (SZ, b"X\0"))):
            key = key.replace("Software\\", "Software\\Wow6432Node\\", 1) if view == "32" else key
            want |= {(category, key, name, value), (category, key, name, "delete")}
    assert found == want, f"the templates write\n  {sorted(found, key=str)}\n  not {sorted(want, key=str)}"
    script = (args.source / "deploy" / "apply-settings.cmd").read_text()
    assert f'set "KEY=HKLM\\{SERVICES}"' in script, "the script's key is not the program's"


def test_intune_example(args):
    """The Intune example writes the batch file into a new folder that only SYSTEM and the
    Administrators can write, under a name no one can guess: never a fixed name in a folder that
    users can write, where any user could put a file of their own first."""
    text = (args.source / "docs" / "deploying.md").read_text()
    (example,) = re.findall(r"```powershell\n(.*?)```", text, re.S)
    code = "\n".join(line.split("#")[0] for line in example.splitlines())
    user_writable = re.compile(r"\$env:(TEMP|TMP|PUBLIC|USERPROFILE)|Windows\\Temp|GetTempPath|C:\\Users",
                               re.I)
    assert not user_writable.search(code), user_writable.search(code).group(0)
    assert re.search(r"\$dir = Join-Path \$env:ProgramData \('ConfigTool-' \+ \[guid\]::NewGuid\(\)\)", code)
    assert "SetSecurityDescriptorSddlForm('D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)')" in code
    assert "[System.IO.Directory]::CreateDirectory($dir, $acl)" in code
    assert re.search(r"\$path = Join-Path \$dir '[^'\\/]+'", code), "the file is not in the new folder"
