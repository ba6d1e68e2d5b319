#!/usr/bin/python3
"""Checks the generated manifests against the tool itself: each is well formed (the Jamf
ones as JSON Schema, the preference manifests as property lists of pfm_ keys), each set
covers exactly the settings of its side or of the student agent, and a value at each
bound and one past it is accepted and refused by the manifest as by the tool.

    manifest_test.py MANIFEST_FOLDER BRTCONFIG GEN_REFERENCE

The tool is the test build (brtconfig_testsys); it is only asked to export profiles with
--apply, which reads no preference file. Global settings are handled only as root, so
their checks are skipped without it; as root the teacher side runs as uid 65534.
"""

import json
import os
import plistlib
import subprocess
import sys
import tempfile
import unittest

try:
    import jsonschema
except ImportError:
    # A missing checker fails the test rather than skipping it: CI installs it with
    # scripts/install-build-deps.sh, and so does the README's set-up.
    sys.exit("manifest_test: python3-jsonschema is missing "
             "(install it with scripts/install-build-deps.sh)")

FOLDER, BRTCONFIG, GEN_REFERENCE = map(os.path.abspath, sys.argv[1:4])
NOBODY = 65534
PAYLOAD_KEYS = ["PayloadDescription", "PayloadDisplayName", "PayloadIdentifier",
                "PayloadType", "PayloadUUID", "PayloadVersion"]
SETS = {"global": "com.brellan.teacher-global", "teacher": "com.brellan.teacher-teacher",
        "student": "com.brellan.student.settings"}
PFM_TYPES = {"boolean": bool, "integer": int, "string": str, "array": list}


def load(name):
    with open(os.path.join(FOLDER, name + ".json"), "rb") as f:
        jamf = json.load(f)
    with open(os.path.join(FOLDER, name + ".plist"), "rb") as f:
        pfm = plistlib.load(f)
    return jamf, pfm


class Tool:
    """Asks the tool whether it takes a set of values, on the global side (root) or the
    teacher side (uid 65534 when run as root)."""

    def __init__(self, folder):
        self.folder = folder
        self.root = os.geteuid() == 0

    def export(self, side, values):
        path = os.path.join(self.folder, "values.json")
        with open(path, "w") as f:
            json.dump(values, f)
        os.chmod(path, 0o644)
        prefix = []
        if side == "teacher" and self.root:
            prefix = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                      "--clear-groups", "--"]
        return subprocess.run(prefix + [BRTCONFIG, "--export-profile", "--apply", path],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env={"HOME": self.folder, "PATH": "/usr/bin:/bin"},
                              cwd=self.folder)

    def accepts(self, side, key, value):
        done = self.export(side, {key: value})
        if done.returncode != 0:
            # Refused for the value, not for the side it belongs to.
            assert done.stderr.startswith(b"invalid "), done.stderr
        return done.returncode == 0


def bound_cases(prop):
    """(value, expected) pairs at each bound of a property and one past it."""
    kind = prop["type"]
    if kind == "integer":
        low, high = prop["minimum"], prop["maximum"]
        return [(low, True), (high, True), (low - 1, False), (high + 1, False)]
    if kind == "boolean":
        return [(True, True), (False, True), (2, False)]
    if kind == "string":
        return [("x", True), ("", False)]
    if "16000" in prop["items"]["pattern"]:  # channels
        element, lowest, highest, below, above = "1", "1", "16000", "0", "16001"
    else:  # subnets
        element, lowest, highest, below, above = ("10.0.0.1", "0.0.0.0", "255.255.255.255",
                                                  "-1.0.0.0", "256.0.0.0")
    shortest, longest = prop.get("minItems", 0), prop["maxItems"]
    cases = [([element] * shortest, True), ([element] * longest, True),
             ([element] * (longest + 1), False),
             ([lowest] * max(shortest, 1), True), ([highest] * max(shortest, 1), True),
             ([below] * max(shortest, 1), False), ([above] * max(shortest, 1), False)]
    if shortest > 0:
        cases.append(([element] * (shortest - 1), False))
    return cases


class ManifestTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="brtconfig-manifests-")
        os.chmod(cls.tmp, 0o755)
        cls.tool = Tool(cls.tmp)
        keys = subprocess.run([GEN_REFERENCE, "keys"], stdout=subprocess.PIPE, check=True)
        cls.catalogue = keys.stdout.decode().split()

    @classmethod
    def tearDownClass(cls):
        for name in os.listdir(cls.tmp):
            os.remove(os.path.join(cls.tmp, name))
        os.rmdir(cls.tmp)

    def need_side(self, side):
        if side != "teacher" and not self.tool.root:
            self.skipTest("global settings are handled only as root")

    def test_every_manifest_is_well_formed_and_the_two_kinds_agree(self):
        for name in SETS.values():
            jamf, pfm = load(name)
            jsonschema.Draft7Validator.check_schema(jamf)
            for key in ("title", "description", "properties"):
                self.assertTrue(jamf[key], name)
            orders = [p["property_order"] for p in jamf["properties"].values()]
            self.assertEqual(orders, sorted(set(orders)), name)
            for key in ("pfm_title", "pfm_domain", "pfm_description"):
                self.assertIsInstance(pfm[key], str, name)
            self.assertEqual(pfm["pfm_format_version"], 1)
            self.assertEqual(pfm["pfm_domain"], name.split("-")[0])
            self.assertIn(pfm["pfm_targets"], (["system", "system-managed"],
                                               ["user", "user-managed"]))
            names = [key["pfm_name"] for key in pfm["pfm_subkeys"]]
            self.assertEqual(names[:len(PAYLOAD_KEYS)], PAYLOAD_KEYS, name)
            settings = pfm["pfm_subkeys"][len(PAYLOAD_KEYS):]
            self.assertEqual([key["pfm_name"] for key in settings], list(jamf["properties"]))
            for key in settings:
                prop = jamf["properties"][key["pfm_name"]]
                self.assertEqual((key["pfm_type"], key["pfm_description"]),
                                 (prop["type"], prop["description"]), key["pfm_name"])
                self.assertEqual((key.get("pfm_range_min"), key.get("pfm_range_max")),
                                 (prop.get("minimum"), prop.get("maximum")), key["pfm_name"])
                self.assertEqual((key.get("pfm_repetition_min"), key.get("pfm_repetition_max")),
                                 (prop.get("minItems"), prop.get("maxItems")), key["pfm_name"])
                if key["pfm_type"] == "array":
                    [element] = key["pfm_subkeys"]
                    self.assertEqual((element["pfm_type"], element["pfm_format"]),
                                     (prop["items"]["type"], prop["items"]["pattern"]))
                for subkey in [key] + key.get("pfm_subkeys", []):
                    self.assertIn(subkey["pfm_type"], PFM_TYPES)

    def test_the_sets_cover_exactly_the_catalogue(self):
        teacher = list(load(SETS["teacher"])[0]["properties"])
        global_ = list(load(SETS["global"])[0]["properties"])
        self.assertEqual(sorted(teacher + global_), sorted(self.catalogue))
        self.assertEqual([k for k in self.catalogue if k in teacher], teacher)  # Table order.
        self.need_side("global")
        # The tool refuses each teacher-specific setting on the global side.
        for key in teacher:
            refused = self.tool.export("global", {key: ["10.0.0.1"]})
            self.assertEqual(refused.stderr, b"%s is a user-specific setting.  Try again "
                             b"without sudo.\n" % key.encode())
        # The student agent's settings are those the tool forces in its domain.
        sample = {"boolean": True, "string": "x"}
        values = {key: prop["minimum"] if prop["type"] == "integer" else sample[prop["type"]]
                  for key, prop in load(SETS["global"])[0]["properties"].items()}
        done = self.tool.export("global", values)
        self.assertEqual(done.returncode, 0, done.stderr)
        content = plistlib.loads(done.stdout)["PayloadContent"][0]["PayloadContent"]
        forced = content["com.brellan.student.settings"]["Forced"][0]["mcx_preference_settings"]
        self.assertEqual(sorted(forced), sorted(load(SETS["student"])[0]["properties"]))

    def test_values_at_each_bound_and_one_past_it_are_taken_as_the_tool_takes_them(self):
        for side, name in SETS.items():
            jamf = load(name)[0]
            validator = jsonschema.Draft7Validator(jamf)
            for key, prop in jamf["properties"].items():
                for value, expected in bound_cases(prop):
                    case = "%s %s = %r" % (name, key, value)
                    self.assertEqual(validator.is_valid({key: value}), expected, case)
                    if side != "teacher" and not self.tool.root:
                        continue
                    tool_side = "teacher" if side == "teacher" else "global"
                    self.assertEqual(self.tool.accepts(tool_side, key, value), expected, case)
        self.need_side("global")  # Reported as skipped when only the teacher side ran.


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
