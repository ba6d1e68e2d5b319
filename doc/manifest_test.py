#!/usr/bin/python3
"""Checks the generated manifests against the tool itself: the Jamf ones are JSON Schema,
the preference manifests say the same in pfm_ keys, the sets cover exactly the catalogue,
and a value at each bound and one past it is taken or refused as the tool takes it.

    manifest_test.py MANIFEST_FOLDER BRTCONFIG GEN_REFERENCE

BRTCONFIG (the test build) only exports profiles with --apply, which reads no preference
file. Global settings need root: without it their checks are skipped; as root the
teacher side runs as uid 65534.
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
    # Fails rather than skips: CI and the README's set-up install it.
    sys.exit("manifest_test: python3-jsonschema is missing "
             "(install it with scripts/install-build-deps.sh)")

FOLDER, BRTCONFIG, GEN_REFERENCE = map(os.path.abspath, sys.argv[1:4])
NOBODY = 65534
PAYLOAD_KEYS = ["PayloadDescription", "PayloadDisplayName", "PayloadIdentifier",
                "PayloadType", "PayloadUUID", "PayloadVersion"]
SETS = {"global": "com.brellan.teacher-global", "teacher": "com.brellan.teacher-teacher",
        "student": "com.brellan.student.settings"}
ROOT = os.geteuid() == 0


def load(name):
    with open(os.path.join(FOLDER, name + ".json"), "rb") as f:
        jamf = json.load(f)
    with open(os.path.join(FOLDER, name + ".plist"), "rb") as f:
        return jamf, plistlib.load(f)


def export(folder, side, values):
    """The tool's profile of `values`, made on the global or the teacher side."""
    path = os.path.join(folder, "values.json")
    with open(path, "w") as f:
        json.dump(values, f)
    os.chmod(path, 0o644)
    prefix = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups",
              "--"] if side == "teacher" and ROOT else []
    return subprocess.run(prefix + [BRTCONFIG, "--export-profile", "--apply", path],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env={"HOME": folder, "PATH": "/usr/bin:/bin"}, cwd=folder)


def bound_cases(prop):
    """(value, taken) pairs at each bound of a property and one past it."""
    kind = prop["type"]
    if kind == "integer":
        low, high = prop["minimum"], prop["maximum"]
        return [(low, True), (high, True), (low - 1, False), (high + 1, False)]
    if kind == "boolean":
        return [(True, True), (False, True), (2, False)]
    if kind == "string":
        return [("x", True), ("", False)]
    if "16000" in prop["items"]["pattern"]:  # channels
        one, low, high, below, above = "1", "1", "16000", "0", "16001"
    else:  # subnets
        one, low, high, below, above = ("10.0.0.1", "0.0.0.0", "255.255.255.255",
                                        "-1.0.0.0", "256.0.0.0")
    shortest, longest = prop["minItems"], prop["maxItems"]
    return [([one] * shortest, True), ([one] * longest, True), ([one] * (shortest - 1), False),
            ([one] * (longest + 1), False), ([low], True), ([high], True), ([below], False),
            ([above], False)]


class ManifestTest(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="brtconfig-manifests-")
        os.chmod(self.tmp, 0o755)

    def tearDown(self):
        for name in os.listdir(self.tmp):
            os.remove(os.path.join(self.tmp, name))
        os.rmdir(self.tmp)

    def test_each_manifest_is_valid_and_its_two_kinds_agree(self):
        for name in SETS.values():
            jamf, pfm = load(name)
            jsonschema.Draft7Validator.check_schema(jamf)
            self.assertTrue(jamf["title"] and jamf["description"] and pfm["pfm_title"], name)
            self.assertEqual((pfm["pfm_domain"], pfm["pfm_format_version"]),
                             (name.split("-")[0], 1))
            names = [key["pfm_name"] for key in pfm["pfm_subkeys"]]
            self.assertEqual(names, PAYLOAD_KEYS + list(jamf["properties"]), name)
            for key in pfm["pfm_subkeys"][len(PAYLOAD_KEYS):]:
                prop = jamf["properties"][key["pfm_name"]]
                items = prop.get("items", {})
                element = key.get("pfm_subkeys", [{}])[0]
                self.assertEqual(
                    (key["pfm_type"], key["pfm_description"], key.get("pfm_range_min"),
                     key.get("pfm_range_max"), key.get("pfm_repetition_min"),
                     key.get("pfm_repetition_max"), element.get("pfm_type"),
                     element.get("pfm_format")),
                    (prop["type"], prop["description"], prop.get("minimum"),
                     prop.get("maximum"), prop.get("minItems"), prop.get("maxItems"),
                     items.get("type"), items.get("pattern")), key["pfm_name"])

    def test_the_sets_cover_exactly_the_catalogue(self):
        keys = subprocess.run([GEN_REFERENCE, "keys"], stdout=subprocess.PIPE, check=True)
        catalogue = keys.stdout.decode().split()
        sides = [list(load(SETS[side])[0]["properties"]) for side in ("global", "teacher")]
        self.assertEqual(sorted(sides[0] + sides[1]), sorted(catalogue))
        for keys in sides:
            self.assertEqual([k for k in catalogue if k in keys], keys)  # In table order.
        if not ROOT:
            self.skipTest("global settings are handled only as root")
        # The student agent's settings are those the tool forces in its domain.
        sample = {"boolean": True, "string": "x"}
        values = {key: prop.get("minimum", sample.get(prop["type"]))
                  for key, prop in load(SETS["global"])[0]["properties"].items()}
        done = export(self.tmp, "global", values)
        self.assertEqual(done.returncode, 0, done.stderr)
        content = plistlib.loads(done.stdout)["PayloadContent"][0]["PayloadContent"]
        forced = content["com.brellan.student.settings"]["Forced"][0]["mcx_preference_settings"]
        self.assertEqual(sorted(forced), sorted(load(SETS["student"])[0]["properties"]))

    def test_values_at_each_bound_and_one_past_it_are_taken_as_the_tool_takes_them(self):
        for side, name in SETS.items():
            jamf = load(name)[0]
            validator = jsonschema.Draft7Validator(jamf)
            for key, prop in jamf["properties"].items():
                for value, taken in bound_cases(prop):
                    case = "%s %s = %r" % (name, key, value)
                    self.assertEqual(validator.is_valid({key: value}), taken, case)
                    if side != "teacher" and not ROOT:
                        continue
                    done = export(self.tmp, "teacher" if side == "teacher" else "global",
                                  {key: value})
                    # Refused for the value, never for the side the setting belongs to.
                    self.assertTrue(done.returncode == 0 or done.stderr.startswith(b"invalid "),
                                    done.stderr)
                    self.assertEqual(done.returncode == 0, taken, case)
        if not ROOT:
            self.skipTest("global settings are handled only as root")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
