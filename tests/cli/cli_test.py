#!/usr/bin/python3
"""End-to-end tests of brtconfig: the real binary, run as root and as an ordinary user,
on real preference files, checking what a user sees (standard output, standard error,
exit status) and the files left on disk.

Run as root. The binary under test is a build whose system-wide preference folder lies
inside the build tree; these tests fill and empty that folder themselves. Ordinary-user
runs drop to uid/gid 65534 with setpriv and get a temporary HOME owned by that user.
A stand-in `killall` first on PATH records when the student daemon is killed.
"""

import argparse
import collections
import datetime
import fcntl
import json
import os
import plistlib
import random
import re
import resource
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ARGS = None  # Set from the command line in __main__.
NOBODY = 65534

TEACHER = "com.brellan.teacher.plist"
OLD_TEACHER = "com.tovrika.teacher.plist"
CONSOLE = "com.brellan.techconsole.plist"
OLD_CONSOLE = "com.tovrika.techconsole.plist"
STUDENT = "com.brellan.student.settings.plist"
OLD_STUDENT = "com.tovrika.student.settings.plist"
KILL_STUDENT_DAEMON = "brdaemon"  # What the stand-in killall records.
TEACHER_NAME = "brtteacher"  # The teacher of --user runs, in a private password file.

GLOBAL_SETTINGS = [
    ("AlertOnUpdate", "true/false"),
    ("AllowAudio", "0/1"),
    ("AllowDumpUploads", "0/1"),
    ("AllowInternetMonitoring", "0/1"),
    ("AllowKeyboardMonitoring", "0/1"),
    ("AllowTaskmanLimiting", "0/1"),
    ("Authorization", "This is not a password, but an integer password hash."),
    ("ClassroomServerAddress",
     "Address/hostname and port of Classroom Server (ie 10.16.2.4:8080)"),
    ("DisableDataTransmission",
     "true/false  Prevents changing network transmission settings"),
    ("DisableBrowseForStudents",
     "true/false  Prevents creation of class lists by browsing for students"),
    ("DisableClassLists", "true/false  Prevents use and creation of class lists"),
    ("EnableChannelSelect", "true/false  Allows the Teacher to change channels"),
    ("OneToOne", "0/1"),
    ("RelayServerAddress",
     "Address/hostname and port of Relay Server (ie 198.51.100.15:8081)"),
    ("SecureMode", "0/1"),
    ("StealthMode", "0/1"),
    ("UseLegacyScreenGrabber", "true/false"),
    ("AutoApproveRemoteControl",
     "Automatically approves remote control permission for Teacher computer.  "
     "Defaults to false.  true/false"),
    ("AllowRemoteControl", "Allows or disables Remote Control.  Defaults to true.  true/false"),
    ("CleverURL", "URL of student information server."),
    ("MaxThumbnailStudents",
     "Maximum number of students allowed in Thumbnail view on channel 0.  Defaults to 40."),
]
TEACHER_SETTINGS = [
    ("channel", "Channel.  Must be between 1 and 16000."),
    ("channels", "List of channels.  Maximum 64.  Each channel must be between 1 and 16000."),
    ("limitTaskManager", "true/false"),
    ("logLevel", "0/1"),
    ("subnets", "List of IP addresses.  Minimum 1, maximum 3"),
    ("transport", "0 = broadcast, 1 = multicast, 2 = directed bcast"),
    ("useSingleChannel", "true/false"),
    ("showDualMonitors", "true/false"),
    ("dynamicClassListPath", "file path to location of dynamic class list .csv files"),
    ("thumbnailDelay",
     "The amount of time to wait between requesting thumbnails, expressed in milliseconds.  "
     "Default is 5000."),
    ("limitDottedDecimal", "true/false Prevents dotted decimal and private browsing by students"),
]


def usage_text():
    def listing(settings):
        return "".join("\t%-30s%s\n" % entry for entry in settings)

    return ("Teacher Configuration Utility\n"
            "\nRun this tool using sudo in order to\n"
            "change global settings for this device.\n"
            "Otherwise run as user to change Teacher-\n"
            "specific settings.\n\n"
            "Version 1.1 Usage: brtconfig <key> <newvalue> \n\n"
            "Example (to allow Teacher to change channels): \n\n"
            "\tsudo ./brtconfig EnableChannelSelect true \n\n"
            "Value names are case-sensitive.\n\n"
            "The following are global settings that can be changed:\n\n"
            + listing(GLOBAL_SETTINGS)
            + "\n\nThe following are teacher-specific settings that can be changed:\n\n"
            + listing(TEACHER_SETTINGS)
            + "\nPlease note that the Teacher should not be running when configuring settings.\n"
            "\nAlso note that the following Teacher settings are only used when the teacher\n"
            "\"Becomes a Student\" or updates a computer running the Student:\n\n"
            "\tAllowInternetMonitoring\n\tAllowKeyboardMonitoring\n\tAuthorization\n"
            "\tClassroomServerAddress\n\tOneToOne\n\tRelayServerAddress\n\tSecureMode\n"
            "\tStealthMode\n\n")


def as_bytes(text):
    return text if isinstance(text, bytes) else os.fsencode(text)


Run = collections.namedtuple("Run", "status stdout stderr")


def remove_tree(path):
    """Removes `path` and everything below it, opening folders a case left closed."""
    os.chmod(path, 0o755)
    for folder, names, _ in os.walk(path):  # Each folder opened before it is entered.
        for name in names:
            if not os.path.islink(os.path.join(folder, name)):
                os.chmod(os.path.join(folder, name), 0o755)
    shutil.rmtree(path)


class Session(unittest.TestCase):
    """One user's session: a fresh system folder, HOME and killall record per case."""

    address_space = None  # When set, the bytes of address space each run of the tool gets.

    def setUp(self):
        self.root = os.geteuid() == 0
        self.system = ARGS.system_folder
        os.makedirs(self.system, exist_ok=True)
        self.empty_system_folder()
        self.tmp = tempfile.mkdtemp(prefix="brtconfig-cli-")
        # Removed also when a case is skipped in its own setUp, and whatever it left
        # unsearchable.
        self.addCleanup(remove_tree, self.tmp)
        os.chmod(self.tmp, 0o755)  # The ordinary user must reach its HOME inside.
        self.home = os.path.join(self.tmp, "home")
        self.user_prefs = os.path.join(self.home, "Library", "Preferences")
        os.makedirs(self.user_prefs)
        self.killall_log = os.path.join(self.tmp, "killall.log")
        # Whatever the umask: only their owner may write to the folders of the files.
        os.chmod(self.system, 0o755)
        for folder in (self.home, os.path.dirname(self.user_prefs), self.user_prefs):
            os.chmod(folder, 0o755)
            if self.root:
                os.chown(folder, NOBODY, NOBODY)

    def tearDown(self):
        self.empty_system_folder()
        shutil.rmtree(ARGS.managed_folder, ignore_errors=True)

    def empty_system_folder(self):
        for name in os.listdir(self.system):
            os.remove(os.path.join(self.system, name))

    # ---- Running the tool ----

    def run_tool(self, prefix, args, stdout=subprocess.PIPE):
        env = {
            "PATH": ARGS.killall_dir + ":/usr/sbin:/usr/bin:/sbin:/bin",
            "HOME": self.home,
            "BRT_KILLALL_LOG": self.killall_log,
            "BRT_KILLALL_SIGNALS": os.path.join(self.tmp, "killall.signals"),
            "LC_ALL": "C",
        }
        limit = self.address_space
        done = subprocess.run(prefix + [ARGS.brtconfig] + [as_bytes(a) for a in args],
                              env=env, cwd=self.tmp, stdout=stdout,
                              stderr=subprocess.PIPE, timeout=60, preexec_fn=limit and (
                                  lambda: resource.setrlimit(resource.RLIMIT_AS,
                                                             (limit, limit))))
        return Run(done.returncode, done.stdout, done.stderr)

    def as_root(self, *args):
        if not self.root:
            self.skipTest("needs root")
        return self.run_tool([], args)

    def as_user(self, *args):
        if not self.root:
            return self.run_tool([], args)
        return self.run_tool(["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                              "--clear-groups", "--"], args)

    # ---- Preparing files ----

    def system_file(self, name):
        return os.path.join(self.system, name)

    def user_file(self, name):
        return os.path.join(self.user_prefs, name)

    def managed_file(self, name, values, user=None):
        """What a configuration profile forces, device-wide or for `user`."""
        folder = os.path.join(ARGS.managed_folder, user) if user else ARGS.managed_folder
        os.makedirs(folder, exist_ok=True)
        return self.make_prefs(os.path.join(folder, name), values)

    def make_prefs(self, path, values, fmt=plistlib.FMT_XML):
        with open(path, "wb") as f:
            plistlib.dump(values, f, fmt=fmt)
        if self.root and path.startswith(self.home):
            os.chown(path, NOBODY, NOBODY)
        return path

    def link_to_a_root_file(self, name):
        """A preference file of root's in a folder only root may write to, and a link to
        it that the teacher planted in their folder under `name`. Returns the file's path
        and its bytes."""
        locked = os.path.join(self.tmp, "locked")
        os.mkdir(locked, 0o755)
        target = self.make_prefs(os.path.join(locked, name), {"logLevel": 0})
        os.symlink(target, self.user_file(name))
        os.lchown(self.user_file(name), NOBODY, NOBODY)
        return target, self.snapshot(target)

    # ---- Checks, one per kind ----

    def assert_stdout(self, run, text):
        self.assertEqual(run.stdout, as_bytes(text), "standard output")

    def assert_stderr(self, run, text):
        self.assertEqual(run.stderr, as_bytes(text), "standard error")

    def assert_status(self, run, status):
        self.assertEqual(run.status, status, "exit status; stderr: %r" % run.stderr)

    def assert_refused(self, run, message):
        """A refusal: the message on standard error, nothing else, status 1."""
        self.assert_stderr(run, message)
        self.assert_stdout(run, "")
        self.assert_status(run, 1)

    def assert_failure(self, run, message, reason):
        """A file that could not be handled: `message` on standard error, then the cause
        as a log line whose text matches the pattern `reason`."""
        self.assertTrue(run.stderr.startswith(as_bytes(message)), run.stderr)
        line = run.stderr[len(as_bytes(message)):]
        match = re.fullmatch(rb"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S+\[\d+\] (.*)\n", line)
        self.assertIsNotNone(match, line)
        self.assertRegex(match.group(1), as_bytes(reason))

    def assert_failures(self, run, failures):
        """Each of `failures`, a (message, reason) pair as for assert_failure, in turn."""
        lines = run.stderr.splitlines(keepends=True)
        self.assertEqual(len(lines), 2 * len(failures), run.stderr)
        for i, (message, reason) in enumerate(failures):
            self.assert_failure(Run(run.status, b"", b"".join(lines[2 * i:2 * i + 2])),
                                message, reason)

    def assert_save_refused(self, run, target):
        """Nothing printed, the save refused because the run may not write beside `target`."""
        self.assert_stdout(run, "")
        self.assert_failure(run, "Unable to save settings\n",
                            "^cannot create a temporary file for %s: Permission denied$"
                            % re.escape(target))
        self.assert_status(run, 1)

    def assert_stored(self, path, expected):
        """The file holds `expected` (a dict of some of its entries, with kinds), both as
        plistlib and as the project's own reader see it."""
        with open(path, "rb") as f:
            independent = plistlib.load(f)
        project = subprocess.run([ARGS.plist_cat, path], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
        self.assertEqual(project.returncode, 0, project.stderr)
        self.assertEqual(plistlib.loads(project.stdout), independent, "the two readers differ")
        for key, value in expected.items():
            self.assertIn(key, independent)
            self.assertEqual((type(independent[key]), independent[key]), (type(value), value),
                             key)
        return independent

    def assert_format(self, path, fmt):
        with open(path, "rb") as f:
            head = f.read(8)
        self.assertEqual(head.startswith(b"bplist00"), fmt == plistlib.FMT_BINARY, head)
        self.assertEqual(head.startswith(b"<?xml"), fmt == plistlib.FMT_XML, head)

    def assert_owned(self, path, uid, mode):
        info = os.stat(path)
        self.assertEqual((info.st_uid, stat.S_IMODE(info.st_mode)), (uid, mode), path)

    def assert_untouched(self, path, before):
        """`before` is the file's bytes as the test wrote them, or None for no file."""
        if before is None:
            self.assertFalse(os.path.lexists(path), path + " was created")
            return
        with open(path, "rb") as f:
            self.assertEqual(f.read(), before, path + " was changed")

    def snapshot(self, path):
        with open(path, "rb") as f:
            return f.read()

    def assert_student_daemon_kills(self, count):
        lines = []
        if os.path.exists(self.killall_log):
            with open(self.killall_log) as f:
                lines = f.read().splitlines()
        self.assertEqual(lines, [KILL_STUDENT_DAEMON] * count, "killall calls")


class UsageAndVersion(Session):

    def test_no_arguments_show_the_usage_text(self):
        run = self.as_user()
        self.assert_stdout(run, usage_text())
        self.assert_stderr(run, "")
        self.assert_status(run, 0)

    def test_version_alone_shows_the_version(self):
        run = self.as_user("version")
        self.assert_stdout(run, "1.1\n")
        self.assert_status(run, 0)

    def test_version_with_a_value_or_capitals_is_an_unknown_key(self):
        self.assert_refused(self.as_user("version", "1"), "version is not a valid setting.\n")
        self.assert_refused(self.as_user("VERSION"), "VERSION is not a valid setting.\n")


class Refusals(Session):

    def test_sixty_four_values_are_accepted_and_sixty_five_are_too_many(self):
        channels = [str(n) for n in range(1, 65)]
        run = self.as_user("channels", *channels)
        self.assert_stdout(run, "")  # No preference file yet.
        self.assert_status(run, 0)
        self.make_prefs(self.user_file(TEACHER), {})
        run = self.as_user("channels", *channels)
        self.assert_stdout(run, "channels = " + " ".join(channels) + " \n")
        self.assert_stored(self.user_file(TEACHER), {"channels": channels})
        before = self.snapshot(self.user_file(TEACHER))
        self.assert_refused(self.as_user("channels", *channels, "65"), "Too many parameters.\n")
        self.assert_refused(self.as_user("nokey", *channels, "65"), "Too many parameters.\n")
        self.assert_refused(self.as_user("nokey", *channels), "nokey is not a valid setting.\n")
        self.assert_untouched(self.user_file(TEACHER), before)

    def test_keys_are_case_sensitive(self):
        self.assert_refused(self.as_root("enablechannelselect", "true"),
                            "enablechannelselect is not a valid setting.\n")
        self.assert_refused(self.as_user("Channel", "7"), "Channel is not a valid setting.\n")

    def test_unknown_key_is_named_before_any_other_fault(self):
        self.assert_refused(self.as_user("NoSuchKey", "x", "y"),
                            "NoSuchKey is not a valid setting.\n")
        self.assert_refused(self.as_root("NoSuchKey"), "NoSuchKey is not a valid setting.\n")

    def test_global_setting_as_user_asks_for_sudo_before_judging_the_value(self):
        self.assert_refused(self.as_user("AllowAudio", "7"),
                            "AllowAudio is a global setting.  Try again with sudo.\n")
        self.assert_refused(self.as_user("StealthMode"),
                            "StealthMode is a global setting.  Try again with sudo.\n")

    def test_teacher_setting_as_root_asks_to_drop_sudo(self):
        self.assert_refused(self.as_root("logLevel"),
                            "logLevel is a user-specific setting.  Try again without sudo.\n")
        self.assert_refused(self.as_root("logLevel", "5"),
                            "logLevel is a user-specific setting.  Try again without sudo.\n")

    def test_bad_value_is_refused_with_the_hint_and_no_file_changes(self):
        teacher = self.make_prefs(self.system_file(TEACHER), {"AllowAudio": 1})
        student = self.make_prefs(self.system_file(STUDENT), {})
        before = {path: self.snapshot(path) for path in (teacher, student)}
        for args, key, hint in [
            (("AllowAudio", "2"), "AllowAudio", "0/1"),
            (("AlertOnUpdate", "TRUE"), "AlertOnUpdate", "true/false"),
            (("StealthMode", "1", "1"), "StealthMode", "0/1"),
            (("Authorization", "2147483647"), "Authorization",
             "This is not a password, but an integer password hash."),
        ]:
            self.assert_refused(self.as_root(*args),
                                "invalid value type for %s.    Hint: %s\n" % (key, hint))
        for path, data in before.items():
            self.assert_untouched(path, data)
        self.assert_student_daemon_kills(0)

    def test_negative_number_is_refused_rather_than_stored_positive(self):
        prefs = self.make_prefs(self.user_file(TEACHER), {"thumbnailDelay": 5000})
        before = self.snapshot(prefs)
        hint = dict(TEACHER_SETTINGS)["thumbnailDelay"]
        for value in ("-5000", '"-5000".'):
            self.assert_refused(self.as_user("thumbnailDelay", value),
                                "invalid value type for thumbnailDelay.    Hint: %s\n" % hint)
        self.assert_untouched(prefs, before)

    def test_unsafe_text_is_refused_before_any_file_is_touched(self):
        prefs = self.make_prefs(self.system_file(TEACHER), {})
        before = self.snapshot(prefs)
        hint = dict(GLOBAL_SETTINGS)["CleverURL"]
        for value in (b"http://a\xffb", b"\xc3(", "a\x01b", "a\x7fb", "a\x1bb"):
            self.assert_refused(self.as_root("CleverURL", value),
                                "invalid value type for CleverURL.    Hint: %s\n" % hint)
        self.assert_untouched(prefs, before)
        self.assert_refused(self.as_root(b"Alert\xffOnUpdate", "true"),
                            b"Alert\xffOnUpdate is not a valid setting.\n")
        # Tab, line feed and carriage return are ordinary text (binary keeps all three).
        prefs = self.make_prefs(self.user_file(TEACHER), {})
        run = self.as_user("dynamicClassListPath", "a\tb\r\nc")
        self.assert_stdout(run, "dynamicClassListPath = a\tb\r\nc\n")
        self.assert_stored(prefs, {"dynamicClassListPath": "a\tb\r\nc"})


class ChangesAsRoot(Session):

    def test_change_prints_the_stored_value_and_writes_xml_owned_by_root(self):
        prefs = self.make_prefs(self.system_file(OLD_TEACHER), {"Other": [1, 2]},
                                fmt=plistlib.FMT_BINARY)
        os.chmod(prefs, 0o600)
        run = self.as_root("MaxThumbnailStudents", "40")
        self.assert_stdout(run, "MaxThumbnailStudents = 40\n")
        self.assert_stderr(run, "")
        self.assert_status(run, 0)
        self.assert_stored(prefs, {"MaxThumbnailStudents": 40, "Other": [1, 2]})
        self.assert_format(prefs, plistlib.FMT_XML)
        self.assert_owned(prefs, 0, 0o644)

    def test_punctuation_is_trimmed_from_a_single_value_unless_the_setting_is_text(self):
        prefs = self.make_prefs(self.system_file(TEACHER), {})
        for args, shown, stored in [
            (("AlertOnUpdate", "true."), "true", {"AlertOnUpdate": True}),
            (("EnableChannelSelect", "\u201cfalse\u201d"), "false",
             {"EnableChannelSelect": False}),
            (("AllowAudio", "(1)"), "1", {"AllowAudio": 1}),
            (("CleverURL", '"http://x/".'), '"http://x/".', {"CleverURL": '"http://x/".'}),
        ]:
            run = self.as_root(*args)
            self.assert_stdout(run, "%s = %s\n" % (args[0], shown))
            self.assert_stored(prefs, stored)

    def test_every_teacher_file_changes_and_the_first_one_prints(self):
        teacher = self.make_prefs(self.system_file(OLD_TEACHER), {"AllowAudio": 0})
        console = self.make_prefs(self.system_file(CONSOLE), {"AllowAudio": 0})
        user_copy = self.make_prefs(self.user_file(TEACHER), {})
        user_before = self.snapshot(user_copy)
        run = self.as_root("AllowAudio", "1")
        self.assert_stdout(run, "AllowAudio = 1\n")
        self.assert_status(run, 0)
        for path in (teacher, console):
            self.assert_stored(path, {"AllowAudio": 1})
        self.assert_untouched(user_copy, user_before)
        self.assertFalse(os.path.exists(self.system_file(TEACHER)))

    def test_query_prints_the_first_file_only(self):
        self.make_prefs(self.system_file(TEACHER), {"AlertOnUpdate": True, "CleverURL": ""})
        self.make_prefs(self.system_file(OLD_CONSOLE), {"AlertOnUpdate": False,
                                                         "AllowAudio": 1})
        for key, shown in [("AlertOnUpdate", "AlertOnUpdate = true\n"),
                           ("AllowAudio", "AllowAudio is not set.\n"),
                           ("CleverURL", "CleverURL is not set.\n")]:
            run = self.as_root(key)
            self.assert_stdout(run, shown)
            self.assert_stderr(run, "")
            self.assert_status(run, 0)

    def test_files_are_handled_in_their_fixed_order_and_the_first_prints(self):
        # The older teacher file comes before the newer tech console file.
        teacher = self.make_prefs(self.system_file(OLD_TEACHER), {"AllowAudio": 0})
        console = self.make_prefs(self.system_file(CONSOLE), {"AllowAudio": 1})
        self.assert_stdout(self.as_root("AllowAudio"), "AllowAudio = 0\n")
        self.make_prefs(self.system_file(TEACHER), {})
        self.assert_stdout(self.as_root("AllowAudio"), "AllowAudio is not set.\n")
        run = self.as_root("SecureMode", "1")
        self.assert_stdout(run, "SecureMode = 1\n")
        for path in (self.system_file(TEACHER), teacher, console):
            self.assert_stored(path, {"SecureMode": 1})

    def test_unreadable_first_file_fails_a_query_too(self):
        with open(self.system_file(TEACHER), "wb") as f:
            f.write(b"not a property list")
        self.make_prefs(self.system_file(OLD_CONSOLE), {"AllowAudio": 1})
        run = self.as_root("AllowAudio")
        self.assert_stdout(run, "")
        self.assert_failure(run, "Unable to open teacher preference file.\n",
                            "^%s is not a property list: .+ at byte 0$" % re.escape(
                                self.system_file(TEACHER)))
        self.assert_status(run, 1)

    def test_student_file_that_cannot_be_saved_fails_the_run(self):
        # The tool may write no file beyond the limit: the teacher file fits, the larger
        # student file does not. (An ignored SIGXFSZ stays ignored in the tool.)
        if not self.root:
            self.skipTest("needs root")
        limit = 16384
        teacher = self.make_prefs(self.system_file(TEACHER), {})
        student = self.make_prefs(self.system_file(STUDENT), {"Notes": "x" * (2 * limit)})
        before = self.snapshot(student)

        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        done = subprocess.run([ARGS.brtconfig, "StealthMode", "1"], preexec_fn=limit_file_size,
                              env={"PATH": ARGS.killall_dir + ":/usr/bin:/bin",
                                   "BRT_KILLALL_LOG": self.killall_log},
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        run = Run(done.returncode, done.stdout, done.stderr)
        self.assert_stdout(run, "StealthMode = 1\n")
        self.assert_failure(run, "failed to save student settings.\n",
                            "^cannot write .*: File too large$")
        self.assert_status(run, 1)
        self.assert_stored(teacher, {"StealthMode": 1})
        self.assert_untouched(student, before)
        self.assertEqual(sorted(os.listdir(self.system)), sorted([TEACHER, STUDENT]))
        self.assert_student_daemon_kills(1)

    def test_unreadable_first_file_is_reported_and_the_others_still_change(self):
        broken = self.system_file(TEACHER)
        with open(broken, "wb") as f:
            f.write(b"<plist><dict><key>AllowAudio</key>")
        console = self.make_prefs(self.system_file(OLD_CONSOLE), {})
        run = self.as_root("AllowAudio", "1")
        self.assert_stdout(run, "")
        self.assert_failure(run, "Unable to open teacher preference file.\n",
                            "^%s is not a property list: .+ at byte 34$" % re.escape(broken))
        self.assert_status(run, 1)
        self.assert_untouched(broken, b"<plist><dict><key>AllowAudio</key>")
        self.assert_stored(console, {"AllowAudio": 1})

    def test_without_teacher_files_nothing_prints_and_nothing_is_created(self):
        for args in (("AllowAudio", "1"), ("AllowAudio",), ("SecureMode", "1")):
            run = self.as_root(*args)
            self.assert_stdout(run, "")
            self.assert_stderr(run, "")
            self.assert_status(run, 0)
        self.assertEqual(os.listdir(self.system), [])
        self.assert_student_daemon_kills(1)  # SecureMode concerns students.

    def test_student_settings_follow_a_student_setting(self):
        for present, written in [((STUDENT, OLD_STUDENT), STUDENT),
                                 ((OLD_STUDENT,), OLD_STUDENT),
                                 ((), None)]:
            self.empty_system_folder()
            self.make_prefs(self.system_file(TEACHER), {})
            self.make_prefs(self.system_file(OLD_CONSOLE), {})
            before = {}
            for name in (STUDENT, OLD_STUDENT):
                if name in present:
                    self.make_prefs(self.system_file(name), {"Kept": "yes"},
                                    fmt=plistlib.FMT_BINARY)
                    before[name] = self.snapshot(self.system_file(name))
                else:
                    before[name] = None
            run = self.as_root("ClassroomServerAddress", "10.16.2.4:8080")
            self.assert_stdout(run, "ClassroomServerAddress = 10.16.2.4:8080\n")
            self.assert_status(run, 0)
            for name in (STUDENT, OLD_STUDENT):
                if name == written:
                    path = self.system_file(name)
                    self.assert_stored(path, {"ClassroomServerAddress": "10.16.2.4:8080",
                                              "Kept": "yes"})
                    self.assert_format(path, plistlib.FMT_XML)
                else:
                    self.assert_untouched(self.system_file(name), before[name])

    def test_student_daemon_is_killed_after_a_student_setting_only(self):
        self.make_prefs(self.system_file(TEACHER), {})
        self.as_root("AlertOnUpdate", "true")
        self.as_root("StealthMode")
        self.assert_student_daemon_kills(0)
        run = self.as_root("StealthMode", "1")
        self.assert_stdout(run, "StealthMode = 1\n")
        self.assert_student_daemon_kills(1)

    def test_value_of_an_unexpected_kind_still_prints(self):
        prefs = self.make_prefs(self.system_file(TEACHER), {
            "AlertOnUpdate": datetime.datetime(2020, 1, 2, 3, 4, 5),
            "CleverURL": {"nested": b"\x00\x01"},
            "AllowAudio": 2.7,
        })
        for key, prefix in [("AlertOnUpdate", "AlertOnUpdate "), ("CleverURL", "CleverURL "),
                            ("AllowAudio", "AllowAudio = 2\n")]:
            run = self.as_root(key)
            self.assert_status(run, 0)
            self.assertTrue(run.stdout.startswith(as_bytes(prefix)), run.stdout)
            self.assertTrue(run.stdout.endswith(b"\n"), run.stdout)
            self.assert_stderr(run, "")
        run = self.as_root("AlertOnUpdate", "false")
        self.assert_stdout(run, "AlertOnUpdate = false\n")
        self.assert_stored(prefs, {"AlertOnUpdate": False, "CleverURL": {"nested": b"\x00\x01"}})


class ChangesAsUser(Session):

    def test_change_writes_binary_in_the_users_own_folder(self):
        prefs = self.make_prefs(self.user_file(OLD_TEACHER), {"thumbnailDelay": 1})
        system_copy = self.make_prefs(self.system_file(OLD_TEACHER), {"thumbnailDelay": 1})
        system_before = self.snapshot(system_copy)
        run = self.as_user("thumbnailDelay", "5000.")
        self.assert_stdout(run, "thumbnailDelay = 5000\n")
        self.assert_stderr(run, "")
        self.assert_status(run, 0)
        self.assert_stored(prefs, {"thumbnailDelay": 5000})
        self.assert_format(prefs, plistlib.FMT_BINARY)
        self.assert_untouched(system_copy, system_before)

    def test_user_without_files_of_their_own_touches_no_system_file(self):
        system_copy = self.make_prefs(self.system_file(TEACHER), {"logLevel": 1})
        before = self.snapshot(system_copy)
        for args in (("logLevel",), ("logLevel", "0")):
            run = self.as_user(*args)
            self.assert_stdout(run, "")
            self.assert_status(run, 0)
        self.assert_untouched(system_copy, before)
        self.assertEqual(os.listdir(self.user_prefs), [])

    def test_several_values_form_a_list(self):
        prefs = self.make_prefs(self.user_file(CONSOLE), {})
        run = self.as_user("subnets", "10.0.0.1", "10.0.0.2")
        self.assert_stdout(run, "subnets = 10.0.0.1 10.0.0.2 0.0.0.0 \n")
        self.assert_stored(prefs, {"subnets": ["10.0.0.1", "10.0.0.2", "0.0.0.0"]})
        run = self.as_user("subnets", "10.0.0.1", "10.0.0.2.")  # List entries stay as typed.
        self.assert_refused(run, "invalid value type for subnets.    Hint: "
                                 "List of IP addresses.  Minimum 1, maximum 3\n")
        run = self.as_user("subnets", "10.0.0.3.")  # A single value is trimmed.
        self.assert_stdout(run, "subnets = 10.0.0.3 0.0.0.0 0.0.0.0 \n")

    def test_unwritable_first_file_prints_nothing_while_later_files_change(self):
        if not self.root:
            self.skipTest("needs root to make a file the user cannot replace")
        target, before = self.link_to_a_root_file(TEACHER)
        console = self.make_prefs(self.user_file(OLD_CONSOLE), {"logLevel": 0})
        run = self.as_user("logLevel", "1")
        self.assert_save_refused(run, target)
        self.assert_untouched(target, before)
        self.assert_stored(console, {"logLevel": 1})


class OverlappingRuns(Session):
    """Runs that overlap or are cut short: deployment scripts start several at once and
    management agents kill runs that take too long."""

    GLOBAL_CHANGES = [("AllowAudio", "1", 1), ("AllowDumpUploads", "1", 1), ("OneToOne", "1", 1),
                      ("SecureMode", "1", 1), ("MaxThumbnailStudents", "77", 77),
                      ("Authorization", "123456", 123456), ("StealthMode", "1", 1),
                      ("AlertOnUpdate", "true", True)]
    TEACHER_CHANGES = [("channel", "12", "12"), ("logLevel", "1", 1), ("transport", "2", 2),
                       ("thumbnailDelay", "4000", 4000), ("limitTaskManager", "true", True),
                       ("useSingleChannel", "true", True), ("showDualMonitors", "true", True),
                       ("dynamicClassListPath", "/srv/lists", "/srv/lists")]
    ROUNDS = 4

    def start_tool(self, prefix, args, **options):
        env = {"PATH": ARGS.killall_dir + ":/usr/sbin:/usr/bin:/sbin:/bin", "HOME": self.home,
               "BRT_KILLALL_LOG": self.killall_log, "LC_ALL": "C"}
        return subprocess.Popen(prefix + [ARGS.brtconfig] + list(args), env=env, cwd=self.tmp,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, **options)

    def user_prefix(self):
        return (["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups", "--"]
                if self.root else [])

    def filler(self, count):
        return {"Filler%05d" % i: "value %d" % i for i in range(count)}

    def temporary_files(self, folder):
        return [name for name in os.listdir(folder) if name.startswith(".")]

    def hold_lock(self, path):
        """Holds `path` as a run does, through its lock file; returns the descriptor."""
        lock = os.path.join(os.path.dirname(path), ".%s.brtconfig-lock" % os.path.basename(path))
        fd = os.open(lock, os.O_RDONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o600)
        fcntl.flock(fd, fcntl.LOCK_EX)
        return fd

    def test_the_cause_of_a_file_that_cannot_be_opened_is_logged(self):
        if not self.root:
            self.skipTest("needs root to read back a file the user cannot read")
        cases = [(OLD_TEACHER, b"<plist><array/></plist>", 0o644,
                  "^%s: the top level is not a dictionary$"),
                 (CONSOLE, b"", 0o000, "^cannot open %s: Permission denied$")]
        for name, content, mode, reason in cases:
            path = self.user_file(name)
            with open(path, "wb") as f:
                f.write(content)
            os.chmod(path, mode)
            if self.root:
                os.chown(path, NOBODY, NOBODY)
            run = self.as_user("logLevel", "1")
            self.assert_failure(run, "Unable to open teacher preference file.\n",
                                reason % re.escape(path))
            self.assert_status(run, 1)
            self.assert_untouched(path, content)
            os.remove(path)

    def test_a_file_that_cannot_be_reached_is_a_failure_not_an_absence(self):
        # Each row breaks the way to the first file, or to all four: a query and a change
        # report each file that cannot be reached, and the change still reaches the others.
        closed = os.path.join(self.tmp, "closed")
        os.mkdir(closed, 0o000)
        first = self.user_file(TEACHER)
        rows = [
            (lambda: os.symlink(TEACHER, first), [TEACHER], "Too many levels of symbolic links"),
            (lambda: os.symlink(os.path.join(closed, TEACHER), first), [TEACHER],
             "Permission denied"),
            (lambda: os.symlink(OLD_CONSOLE + "/x", first), [TEACHER], "Not a directory"),
            (lambda: os.chmod(self.user_prefs, 0o600),
             [TEACHER, OLD_TEACHER, CONSOLE, OLD_CONSOLE], "Permission denied"),
        ]
        for breakage, unreachable, cause in rows:
            console = self.make_prefs(self.user_file(OLD_CONSOLE), {"logLevel": 0})
            breakage()
            failures = [("Unable to open teacher preference file.\n",
                         "^cannot open %s: %s$" % (re.escape(self.user_file(name)), cause))
                        for name in unreachable]
            for args in (("logLevel",), ("logLevel", "1")):
                run = self.as_user(*args)
                self.assert_stdout(run, "")
                self.assert_failures(run, failures)
                self.assert_status(run, 1)
            os.chmod(self.user_prefs, 0o755)
            if os.path.lexists(first):
                os.remove(first)
            self.assert_stored(console, {"logLevel": 0 if OLD_CONSOLE in unreachable else 1})
            self.assertEqual(os.listdir(self.user_prefs), [OLD_CONSOLE])
        os.chmod(closed, 0o755)

    def test_a_change_gives_up_on_a_file_another_run_holds(self):
        if not self.root:
            self.skipTest("needs root")
        held = self.make_prefs(self.system_file(TEACHER), {"StealthMode": 0})
        console = self.make_prefs(self.system_file(OLD_CONSOLE), {})
        student = self.make_prefs(self.system_file(STUDENT), {"StealthMode": 0})
        before = {path: self.snapshot(path) for path in (held, student)}
        holders = [self.hold_lock(held), self.hold_lock(student)]
        change = self.start_tool([], ["StealthMode", "1"])
        query = self.as_root("StealthMode")
        self.assertIsNone(change.poll(), "the change did not wait for the lock")
        self.assert_stdout(query, "StealthMode = 0\n")
        self.assert_status(query, 0)
        out, err = change.communicate(timeout=60)
        for fd in holders:
            os.close(fd)
        self.assertEqual(out, b"")
        self.assertEqual(change.returncode, 1, err)
        busy = "^%s: another brtconfig run held the file for 5 seconds$"
        lines = err.splitlines(keepends=True)
        self.assertEqual(len(lines), 4, err)
        self.assert_failure(Run(1, b"", b"".join(lines[:2])),
                            "Unable to open teacher preference file.\n", busy % re.escape(held))
        self.assert_failure(Run(1, b"", b"".join(lines[2:])),
                            "failed to save student settings.\n", busy % re.escape(student))
        for path, content in before.items():
            self.assert_untouched(path, content)
        self.assert_stored(console, {"StealthMode": 1})

    def test_a_reader_holding_the_files_holds_no_change_back(self):
        # A student may read the files and lock them as a reader; root's changes do not
        # wait for that (the 5-second wait would fail each file).
        if not self.root:
            self.skipTest("needs root")
        teacher = self.make_prefs(self.system_file(TEACHER), {"StealthMode": 0})
        student = self.make_prefs(self.system_file(STUDENT), {"StealthMode": 0})
        settings = os.path.join(self.tmp, "lab.json")
        with open(settings, "w") as f:
            f.write('{"StealthMode": 0, "AllowAudio": 1}')
        # The reader opens the files, which anyone may read, and then holds its shared
        # locks as an ordinary user: a lock belongs to the open file, not to who opened it,
        # and the build tree may lie where that user cannot reach it.
        script = ("import fcntl, os, sys\n"
                  "files = [open(p, 'rb') for p in sys.argv[1:]]\n"
                  "os.setgroups([]); os.setgid(%d); os.setuid(%d)\n"
                  "for f in files: fcntl.flock(f, fcntl.LOCK_SH)\n"
                  "print('held', flush=True)\n"
                  "sys.stdin.read()\n") % (NOBODY, NOBODY)
        reader = subprocess.Popen([sys.executable, "-c", script, teacher, student],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            self.assertEqual(reader.stdout.readline(), b"held\n")
            for args, expected in [(["StealthMode", "1"], {"StealthMode": 1}),
                                   (["--apply", settings], {"StealthMode": 0, "AllowAudio": 1})]:
                run = self.as_root(*args)
                self.assert_stderr(run, "")
                self.assert_status(run, 0)
                self.assert_stored(teacher, expected)
                self.assert_stored(student, {"StealthMode": expected["StealthMode"]})
            self.assertIsNone(reader.poll(), "the reader let go")
        finally:
            reader.communicate(timeout=60)
        self.assertEqual(sorted(os.listdir(self.system)), sorted([TEACHER, STUDENT]))

    def test_runs_cut_short_leave_a_whole_file_and_no_temporary_file(self):
        if not self.root:
            self.skipTest("needs root")
        entries = 40000
        path = self.make_prefs(self.system_file(TEACHER), self.filler(entries))
        chance = random.Random(11)
        for round_number, sig in enumerate([signal.SIGTERM, signal.SIGINT, signal.SIGHUP,
                                            signal.SIGKILL] * 2):
            run = self.start_tool([], ["AllowAudio", str(round_number % 2)])
            time.sleep(chance.uniform(0.0, 0.08))
            run.send_signal(sig)
            run.communicate(timeout=60)
            with open(path, "rb") as f:
                stored = plistlib.load(f)
            self.assertIn(len(stored), (entries, entries + 1), "round %d" % round_number)
            if len(stored) > entries:
                self.assertIn(stored["AllowAudio"], (0, 1))
                entries += 1
            if sig != signal.SIGKILL:
                self.assertEqual(self.temporary_files(self.system), [], sig)
        # What a run killed outright leaves, the next save removes: only names of the
        # tool's own temporary files, not other hidden files beside them.
        left = self.system_file("." + TEACHER + ".brtconfig-Ab3xZ9")
        kept = self.system_file("." + TEACHER + ".backup")
        for planted in (left, kept):
            with open(planted, "wb") as f:
                f.write(b"partial")
        self.assert_status(self.as_root("AllowAudio", "1"), 0)
        self.assertEqual(self.temporary_files(self.system), [os.path.basename(kept)])

    def test_changes_started_together_all_hold(self):
        sides = [("root", self.system_file(TEACHER), [], self.GLOBAL_CHANGES),
                 ("user", self.user_file(TEACHER), self.user_prefix(), self.TEACHER_CHANGES)]
        for side, path, prefix, changes in sides:
            if side == "root" and not self.root:
                continue
            for round_number in range(self.ROUNDS):
                filler = self.filler(2000)
                self.make_prefs(path, dict(filler), fmt=plistlib.FMT_BINARY)
                runs = [self.start_tool(prefix, [key, text]) for key, text, _ in changes]
                for run in runs:
                    out, err = run.communicate(timeout=60)
                    self.assertEqual(run.returncode, 0, err)
                with open(path, "rb") as f:
                    stored = plistlib.load(f)
                lost = [key for key, _, value in changes if stored.get(key) != value]
                self.assertEqual(lost, [], "%s, round %d: changes lost" % (side, round_number))
                self.assertEqual(stored, dict(filler, **{key: value for key, _, value in changes}))


class ForAnotherUser(Session):
    """Root acting for a teacher with --user. The teacher, TEACHER_NAME, exists only in a
    password file that a private mount namespace lays over /etc/passwd for the run."""

    def setUp(self):
        super().setUp()
        if not self.root:
            self.skipTest("needs root")
        probe = subprocess.run(["unshare", "--mount", "true"], stderr=subprocess.DEVNULL)
        if probe.returncode != 0:
            self.skipTest("needs a private mount namespace (unshare --mount)")
        self.passwd = os.path.join(self.tmp, "passwd")
        with open("/etc/passwd") as real, open(self.passwd, "w") as private:
            private.write(real.read())
            private.write("%s:x:%d:%d:Teacher:%s:/bin/sh\n" % (TEACHER_NAME, NOBODY, NOBODY,
                                                                self.home))

    def for_teacher(self, *args):
        script = 'mount --bind "$0" /etc/passwd && exec "$@"'
        return self.run_tool(["unshare", "--mount", "--", "sh", "-c", script, self.passwd],
                             ("--user",) + args)

    def test_changes_exactly_the_teachers_file_in_binary_owned_by_them(self):
        prefs = self.make_prefs(self.user_file(OLD_TEACHER), {"thumbnailDelay": 1, "x": "y"})
        system_copy = self.make_prefs(self.system_file(OLD_TEACHER), {"thumbnailDelay": 1})
        system_before = self.snapshot(system_copy)
        run = self.for_teacher(TEACHER_NAME, "thumbnailDelay", "5000")
        self.assert_stdout(run, "thumbnailDelay = 5000\n")
        self.assert_stderr(run, "")
        self.assert_status(run, 0)
        self.assert_stored(prefs, {"thumbnailDelay": 5000, "x": "y"})
        self.assert_format(prefs, plistlib.FMT_BINARY)
        self.assert_owned(prefs, NOBODY, 0o644)
        self.assert_untouched(system_copy, system_before)
        self.assertEqual(os.listdir(self.user_prefs), [OLD_TEACHER])
        self.assert_stdout(self.for_teacher(TEACHER_NAME, "thumbnailDelay"),
                           "thumbnailDelay = 5000\n")
        # The teacher's own profile counts for a teacher-specific setting.
        self.managed_file(OLD_TEACHER, {"thumbnailDelay": 2000}, user=TEACHER_NAME)
        run = self.for_teacher(TEACHER_NAME, "thumbnailDelay", "5000")
        self.assert_stdout(run, "thumbnailDelay = 5000\n")
        self.assert_stderr(run, "Warning: a configuration profile sets thumbnailDelay = 2000; "
                                "the profile's value takes precedence until the profile is "
                                "removed.\n")
        self.assert_stored(prefs, {"thumbnailDelay": 5000})
        # Several settings at once, from a file that only root can read.
        settings = os.path.join(self.tmp, "teacher.json")
        with open(settings, "w") as f:
            f.write('{"logLevel": 1, "channels": [7, 8]}')
        os.chmod(settings, 0o600)
        run = self.for_teacher(TEACHER_NAME, "--apply", settings)
        self.assert_stdout(run, "logLevel = 1\nchannels = 7 8 \n")
        self.assert_status(run, 0)
        self.assert_stored(prefs, {"thumbnailDelay": 5000, "logLevel": 1, "channels": ["7", "8"]})
        self.assert_owned(prefs, NOBODY, 0o644)

    def test_a_link_planted_by_the_teacher_leaves_the_root_file_untouched(self):
        target, before = self.link_to_a_root_file(TEACHER)
        run = self.for_teacher(TEACHER_NAME, "logLevel", "1")
        self.assert_save_refused(run, target)
        self.assert_untouched(target, before)
        self.assert_owned(target, 0, 0o644)
        self.assertEqual(os.listdir(os.path.dirname(target)), [TEACHER])

    def test_what_the_teacher_wrote_reaches_root_escaped(self):
        self.make_prefs(self.user_file(TEACHER), {"dynamicClassListPath": SettingsAsData.FORGED},
                        fmt=plistlib.FMT_BINARY)
        run = self.for_teacher(TEACHER_NAME, "dynamicClassListPath")
        self.assert_stdout(run, "dynamicClassListPath = %s\n" % SettingsAsData.SHOWN)
        self.assert_status(run, 0)

    def test_refusals_touch_nothing(self):
        prefs = self.make_prefs(self.user_file(TEACHER), {"logLevel": 0})
        before = self.snapshot(prefs)
        for run, message in [
            (self.as_user("--user", TEACHER_NAME, "logLevel", "1"),
             "--user can only be used as root.\n"),
            (self.for_teacher("no-such-user-brt", "logLevel", "1"),
             "no-such-user-brt is not a user of this computer.\n"),
            (self.for_teacher(TEACHER_NAME, "StealthMode", "1"),
             "StealthMode is a global setting and cannot be used with --user.\n"),
            (self.for_teacher(TEACHER_NAME, "--frob", "logLevel"),
             "--frob is not a valid option.  Try brtconfig --help.\n"),
        ]:
            self.assert_refused(run, message)
        self.assert_untouched(prefs, before)


class SettingsAsData(Session):
    """--json, --list and what configuration profiles force."""

    def json_of(self, run):
        self.assert_stderr(run, "")
        self.assert_status(run, 0)
        return json.loads(run.stdout, object_pairs_hook=collections.OrderedDict)

    def test_json_gives_each_value_typed_as_in_the_file(self):
        prefs = self.make_prefs(self.system_file(OLD_TEACHER), {
            "AlertOnUpdate": True, "AllowAudio": 1, "CleverURL": "http://x/\u00e9\"",
            "RelayServerAddress": ["a", "b"], "MaxThumbnailStudents": 2.5,
            "ClassroomServerAddress": datetime.datetime(2020, 1, 2, 3, 4, 5),
            "Authorization": b"\x00\x01",
        })
        self.make_prefs(self.system_file(OLD_CONSOLE), {"SecureMode": 1})
        for key, value, kind in [
            ("AlertOnUpdate", True, "boolean"), ("AllowAudio", 1, "integer"),
            ("CleverURL", "http://x/\u00e9\"", "string"),
            ("RelayServerAddress", ["a", "b"], "string"),
            ("MaxThumbnailStudents", 2.5, "integer"),
            ("ClassroomServerAddress", "2020-01-02 03:04:05 +0000", "string"),
            ("Authorization", "<0001>", "integer"),
            ("SecureMode", None, "integer"),  # Set in a later file only.
        ]:
            got = self.json_of(self.as_root("--json", key))
            self.assertEqual(list(got.items()), [("key", key), ("value", value), ("kind", kind),
                                                 ("file", prefs), ("forced", False)])
        teacher = self.json_of(self.as_user("--json", "channels"))
        self.assertEqual(teacher, {"key": "channels", "value": None, "kind": "list",
                                   "file": None, "forced": False})

    def test_list_shows_every_setting_of_the_side_in_catalogue_order(self):
        self.make_prefs(self.user_file(CONSOLE), {
            "channels": ["1", "2"], "thumbnailDelay": 5000, "useSingleChannel": False,
            "dynamicClassListPath": "", "Other": 1})
        run = self.as_user("--list")
        lines = ["channels = 1 2 ", "thumbnailDelay = 5000", "useSingleChannel = false"]
        expected = "".join(
            next((line + "\n" for line in lines if line.startswith(key + " = ")),
                 key + " is not set.\n")
            for key, _ in TEACHER_SETTINGS)
        self.assert_stdout(run, expected)
        self.assert_stderr(run, "")
        self.assert_status(run, 0)
        listing = self.json_of(self.as_user("--list", "--json"))
        self.assertEqual(list(listing), [key for key, _ in TEACHER_SETTINGS])
        self.assertEqual(listing["channels"], {"value": ["1", "2"], "kind": "list",
                                               "file": self.user_file(CONSOLE),
                                               "forced": False})
        self.assertEqual(listing["dynamicClassListPath"]["value"], "")
        self.assertIsNone(listing["logLevel"]["value"])
        root_listing = self.json_of(self.as_root("--list", "--json"))
        self.assertEqual(list(root_listing), [key for key, _ in GLOBAL_SETTINGS])

    def test_a_forced_setting_is_changed_warned_about_and_reported(self):
        prefs = self.make_prefs(self.system_file(TEACHER), {"AllowAudio": 1})
        self.managed_file(TEACHER, {"AllowAudio": 0, "StealthMode": 1})
        self.managed_file(OLD_TEACHER, {"CleverURL": "unrelated domain"})
        run = self.as_root("AllowAudio", "1")
        self.assert_stdout(run, "AllowAudio = 1\n")
        self.assert_stderr(run, "Warning: a configuration profile sets AllowAudio = 0; the "
                                "profile's value takes precedence until the profile is "
                                "removed.\n")
        self.assert_status(run, 0)
        self.assert_stored(prefs, {"AllowAudio": 1})
        got = self.json_of(self.as_root("--json", "AllowAudio"))
        self.assertEqual((got["value"], got["forced"], got["forcedValue"]), (1, True, 0))
        listing = self.as_root("--list").stdout.decode().splitlines()
        self.assertIn("AllowAudio = 1  [a profile forces 0]", listing)
        self.assertIn("StealthMode is not set.  [a profile forces 1]", listing)
        self.assertIn("CleverURL is not set.", listing)  # Its domain is not handled here.

    # A teacher's value that tries to clear the screen, forge a line and reverse the text,
    # and how every option run shows it.
    FORGED = "a\\b\x1b[2J\r\nlogLevel = 0\t\x00\x7f\u009b\u202e"
    SHOWN = r"a\\b\e[2J\r\nlogLevel = 0\t\x00\x7F\u009B\u202E"
    HIDDEN = [b"\x1b", b"\r", b"\x00", b"\x7f", "\u009b".encode(), "\u202e".encode()]

    def test_text_from_a_file_or_an_input_is_shown_escaped_by_every_option(self):
        self.make_prefs(self.user_file(TEACHER), {"dynamicClassListPath": self.FORGED},
                        fmt=plistlib.FMT_BINARY)
        bad_keys = os.path.join(self.tmp, "in.json")
        with open(bad_keys, "w") as f:
            f.write('{"\\u202ekey\\u0000x": 1, "\\u001b[2J": 2}')
        for args, expected in [
            (["--list"], "dynamicClassListPath = %s\n" % self.SHOWN),
            (["--dry-run", "dynamicClassListPath", "/new"],
             "  dynamicClassListPath: %s -> /new\n" % self.SHOWN),
            (["--apply", bad_keys], r"\u202Ekey\x00x is not a valid setting." "\n"
                                    r"\e[2J is not a valid setting." "\n"),
            (["--list", "--plist"], "dynamicClassListPath cannot be listed as a property list: "
                                    "it holds a character that XML cannot carry.\n"),
            (["--json", "dynamicClassListPath"], '"value": "a\\\\b\\u001b[2J'),
        ]:
            run = self.as_user(*args)
            self.assertIn(as_bytes(expected), run.stdout + run.stderr, args)
            for raw in self.HIDDEN:
                self.assertNotIn(raw, run.stdout + run.stderr, args)
        listing = self.json_of(self.as_user("--list", "--json"))
        self.assertEqual(listing["dynamicClassListPath"]["value"], self.FORGED)
        # A plain query prints the value as it always has.
        self.assert_stdout(self.as_user("dynamicClassListPath"),
                           "dynamicClassListPath = %s\n" % self.FORGED.split("\x00")[0])

    def test_a_property_list_listing_reads_back_the_same_everywhere(self):
        value = "a\\b\r\n\tc\r\x7f\u009b\u202e\U000e0041"
        self.make_prefs(self.user_file(TEACHER), {"dynamicClassListPath": value},
                        fmt=plistlib.FMT_BINARY)
        run = self.as_user("--list", "--plist")
        self.assert_stderr(run, "")
        self.assert_status(run, 0)
        for raw in self.HIDDEN:
            self.assertNotIn(raw, run.stdout)
        listing = os.path.join(self.tmp, "listing.plist")
        with open(listing, "wb") as f:
            f.write(run.stdout)
        self.assert_stored(listing, {"dynamicClassListPath": {
            "value": value, "kind": "string", "file": self.user_file(TEACHER),
            "forced": False}})


class FleetRuns(Session):
    """Several settings in one run (--apply), previews (--dry-run), the round trip through
    --list, and configuration profiles (--export-profile)."""

    SETTINGS = {"AllowAudio": 0, "StealthMode": 1, "AlertOnUpdate": True,
                "ClassroomServerAddress": "10.1.1.1:8080", "MaxThumbnailStudents": 40}

    def input_file(self, name, data):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def machine(self):
        """A fresh machine: two teacher-side files and the student settings file."""
        self.empty_system_folder()
        return [self.make_prefs(self.system_file(name), {"AllowAudio": 1, "Other": [1]})
                for name in (TEACHER, OLD_CONSOLE)] + [
                    self.make_prefs(self.system_file(STUDENT), {"Kept": "yes"})]

    def test_apply_from_json_xml_and_binary_changes_every_file_alike(self):
        results = []
        for data in (json.dumps(self.SETTINGS).encode(),
                     plistlib.dumps(self.SETTINGS, sort_keys=False),
                     plistlib.dumps(self.SETTINGS, fmt=plistlib.FMT_BINARY, sort_keys=False)):
            teacher, console, student = self.machine()
            if os.path.exists(self.killall_log):
                os.remove(self.killall_log)
            run = self.as_root("--apply", self.input_file("in", data))
            self.assert_stdout(run, "AllowAudio = 0\nStealthMode = 1\nAlertOnUpdate = true\n"
                                    "ClassroomServerAddress = 10.1.1.1:8080\n"
                                    "MaxThumbnailStudents = 40\n")
            self.assert_stderr(run, "")
            self.assert_status(run, 0)
            for path in (teacher, console):
                self.assert_stored(path, dict(self.SETTINGS, Other=[1]))
            self.assert_stored(student, {"StealthMode": 1, "Kept": "yes",
                                         "ClassroomServerAddress": "10.1.1.1:8080"})
            self.assertNotIn("AllowAudio", self.assert_stored(student, {}))
            self.assert_student_daemon_kills(1)
            results.append([self.snapshot(p) for p in (teacher, console, student)])
        self.assertEqual(results[0], results[1])
        self.assertEqual(results[0], results[2])
        # Standard input, as a teacher.
        prefs = self.make_prefs(self.user_file(TEACHER), {})
        done = subprocess.run(
            ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups", "--",
             ARGS.brtconfig, "--apply", "-"], input=b'{"channels": [3, 4], "logLevel": 1}',
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env={"HOME": self.home})
        self.assertEqual((done.returncode, done.stdout, done.stderr),
                         (0, b"channels = 3 4 \nlogLevel = 1\n", b""))
        self.assert_stored(prefs, {"channels": ["3", "4"], "logLevel": 1})

    def test_output_that_cannot_be_written_cuts_no_change_short(self):
        if not self.root:
            self.skipTest("needs root")
        url = "http://" + "x" * 9000  # More output than one buffer holds.
        both = {"CleverURL": url, "StealthMode": 1}
        big = self.input_file("big.json", json.dumps(both).encode())
        closed = ["sh", "-c", 'exec "$0" "$@" >&-']
        for prefix, stdout, args, changed in [
            ([], "closed pipe", ["StealthMode", "1"], {"StealthMode": 1}),
            ([], "closed pipe", ["CleverURL", url], {"CleverURL": url}),
            ([], "closed pipe", ["--apply", big], both),
            ([], "/dev/full", ["--apply", big], both),
            (closed, None, ["--apply", big], both),
        ]:
            if stdout == "/dev/full" and not os.path.exists(stdout):
                continue
            teacher, console, student = self.machine()
            if os.path.exists(self.killall_log):
                os.remove(self.killall_log)
            if stdout == "closed pipe":
                reader, writer = os.pipe()
                os.close(reader)
                run = self.run_tool(prefix, args, stdout=writer)
                os.close(writer)
            elif stdout:
                with open(stdout, "wb") as device:
                    run = self.run_tool(prefix, args, stdout=device)
            else:
                run = self.run_tool(prefix, args)
            self.assertEqual((run.status, run.stderr),
                             (1, b"Unable to write to standard output.\n"), args[:1])
            for path in (teacher, console):
                self.assert_stored(path, changed)
            students = "StealthMode" in changed
            self.assert_stored(student, {"StealthMode": 1} if students else {"Kept": "yes"})
            self.assert_student_daemon_kills(1 if students else 0)
        # The daemons' commands start with SIGPIPE as it was, not ignored as in the tool.
        signals = os.path.join(self.tmp, "killall.signals")
        if os.path.exists(signals):
            with open(signals) as f:
                masks = [int(line.split()[1], 16) for line in f]
            self.assertTrue(masks)
            self.assertEqual([m & 1 << (signal.SIGPIPE - 1) for m in masks], [0] * len(masks))

    def test_bad_entries_or_a_damaged_input_touch_nothing(self):
        files = self.machine()
        before = [self.snapshot(p) for p in files]
        bad = {"AllowAudio": 7, "StealthMode": 1, "Nope": 1, "logLevel": 1,
               "AlertOnUpdate": "yes"}
        for data, message in [
            (json.dumps(bad).encode(),
             "invalid value type for AllowAudio.    Hint: 0/1\n"
             "Nope is not a valid setting.\n"
             "logLevel is a user-specific setting.  Try again without sudo.\n"
             "invalid value type for AlertOnUpdate.    Hint: true/false\n"),
            (b'{"StealthMode": 1, "channel": [], "Nope": true}',
             "invalid entry channel in %s: the list is empty.\n"
             "Nope is not a valid setting.\n"),
            (b'{"StealthMode": 1, "AllowAudio": ',
             "Unable to apply %s: not valid JSON: "),
            (plistlib.dumps(self.SETTINGS, fmt=plistlib.FMT_BINARY)[:-9],
             "Unable to apply %s: not a valid property list: "),
            (plistlib.dumps([1]), "Unable to apply %s: the property list's top level is a "
                                  "list, not a dictionary\n"),
        ]:
            path = self.input_file("in", data)
            run = self.as_root("--apply", path)
            self.assert_stdout(run, "")
            self.assert_status(run, 1)
            message = message.replace("%s", path)
            if message.endswith("\n"):
                self.assert_stderr(run, message)
            else:
                self.assertTrue(run.stderr.startswith(message.encode()), run.stderr)
                self.assertEqual(run.stderr.count(b"\n"), 1, run.stderr)
        self.assert_refused(self.as_root("--apply", os.path.join(self.tmp, "missing")),
                            "Unable to apply %s: no such file\n"
                            % os.path.join(self.tmp, "missing"))
        for path, data in zip(files, before):
            self.assert_untouched(path, data)
        self.assert_student_daemon_kills(0)

    def test_inputs_that_expand_far_beyond_their_size_are_refused_within_bounds(self):
        # Each run gets far less memory than copying its input would take: a run that
        # tried would end in an abort, not the refusal expected.
        if not sys.platform.startswith("linux"):
            self.skipTest("needs an enforced address-space limit")
        if ARGS.sanitized:
            self.skipTest("AddressSanitizer reserves more address space than the limit")
        self.address_space = 128 << 20
        teacher = self.make_prefs(self.user_file(TEACHER), {"logLevel": 0})
        files = self.machine() + [teacher]
        before = [self.snapshot(p) for p in files]

        def shared(count):
            """{"channels": ["1"] * count} with the one "1" stored once."""
            return (b"bplist00\xd1\x01\x02\x58channels\xaf\x12" + count.to_bytes(4, "big")
                    + b"\x03" * count + b"\x511" + b"".join(
                        n.to_bytes(4, "big") for n in (8, 11, 20, 26 + count))
                    + bytes(6) + b"\x04\x01" + (4).to_bytes(8, "big") + bytes(8)
                    + (28 + count).to_bytes(8, "big"))

        big_list = self.input_file("list.json", b'{"channels": [' + b"1, " * 10**6 + b"1]}")
        for run, message in [
            (self.as_root("--apply", self.input_file("shared", shared(4 * 10**6))),
             "Unable to apply %s: not a valid property list: shared objects expand too far "
             "at byte 20\n" % os.path.join(self.tmp, "shared")),
            (self.as_user("--apply", big_list),
             "invalid entry channels in %s: the list holds more than 64 values.\n" % big_list),
        ]:
            self.assert_refused(run, message)
        # The teacher's own file: shared, or holding far more than any setting takes.
        trues = plistlib.dumps({"channels": [True]}).replace(b"<true/>", b"<true/>" * 300000)
        for data, cause in [(shared(4 * 10**6), "shared objects expand too far"),
                            (trues, "its settings' values expand too far to be read")]:
            with open(teacher, "wb") as f:
                f.write(data)
            run = self.as_user("--list", "--json")
            self.assert_failure(run, "Unable to open teacher preference file.\n", cause)
            self.assert_status(run, 1)
        # Too large for the memory left: one message, and the file stays as it was.
        with open(teacher, "wb") as f:
            f.write(plistlib.dumps({"logLevel": 0, "Other": [True]}).replace(
                b"<true/>", b"<true/>" * (4 * 10**6)))
        before[-1] = self.snapshot(teacher)
        self.assert_refused(self.as_user("logLevel", "1"),
                            "Unable to finish: not enough memory.\n")
        for path, data in zip(files, before):
            self.assert_untouched(path, data)
        self.assert_student_daemon_kills(0)

    def test_dry_run_shows_before_and_after_and_leaves_every_file_alone(self):
        files = self.machine()
        before = [(self.snapshot(p), os.stat(p).st_mtime_ns) for p in files]
        path = self.input_file("in.json", json.dumps(
            {"AllowAudio": 1, "StealthMode": 1, "AlertOnUpdate": True}).encode())
        run = self.as_root("--dry-run", "--apply", path)
        changes = ("  AllowAudio: 1 (stays the same)\n  StealthMode: not set -> 1\n"
                   "  AlertOnUpdate: not set -> true\n")
        self.assert_stdout(run, "%s would change:\n%s%s would change:\n%s"
                                "%s would change:\n  StealthMode: not set -> 1\n"
                           % (files[0], changes, files[1], changes, files[2]))
        self.assert_stderr(run, "")
        self.assert_status(run, 0)
        run = self.as_root("--dry-run", "AllowAudio", "1")
        self.assert_stdout(run, "Nothing would change.\n")
        self.assert_status(run, 0)
        self.assert_refused(self.as_root("--dry-run", "AllowAudio", "2"),
                            "invalid value type for AllowAudio.    Hint: 0/1\n")
        for p, (data, mtime) in zip(files, before):
            self.assert_untouched(p, data)
            self.assertEqual(os.stat(p).st_mtime_ns, mtime, p)
        self.assert_student_daemon_kills(0)

    def logged_run(self, *args):
        """A run as root, through sudo's SUDO_USER=jdoe, whose system log is a socket of the
        test's own: /dev/log in a private mount namespace. Returns the run and the
        messages logged."""
        if not self.root:
            self.skipTest("needs root")
        real_dev, path = os.path.join(self.tmp, "dev"), os.path.join(self.tmp, "log")
        os.makedirs(real_dev, exist_ok=True)
        # A /dev of its own, whatever the machine has, with the real null device in it.
        script = ('mount --rbind /dev "$0" && mount -t tmpfs none /dev && '
                  'ln -s "$0/null" /dev/null && ln -s "$1" /dev/log && shift && exec "$@"')
        prefix = ["unshare", "--mount", "--", "sh", "-c", script, real_dev, path]
        if subprocess.run(prefix + ["true"], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("needs a private mount namespace (unshare --mount) and tmpfs")
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as log:
            if os.path.exists(path):
                os.remove(path)
            log.bind(path)
            # Read while the tool runs: a full queue (ten datagrams) would hold it up. An
            # empty datagram of the test's own ends the reading.
            datagrams = []
            reader = threading.Thread(target=lambda: datagrams.extend(
                iter(lambda: log.recv(65536).decode(), "")))
            reader.start()
            try:
                run = self.run_tool(prefix + ["env", "SUDO_USER=jdoe"], args)
            finally:
                with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as end:
                    end.sendto(b"", path)
                reader.join()
            messages = []
            for datagram in datagrams:
                # authpriv.notice, a time stamp, then the program's name and process id.
                found = re.fullmatch(r"<85>\w{3} [ \d]\d \d\d:\d\d:\d\d (\S+)\[\d+\]: (.*)",
                                     datagram, re.S)
                self.assertIsNotNone(found, datagram)
                self.assertEqual(found.group(1), os.path.basename(ARGS.brtconfig))
                messages.append(found.group(2))
        return run, messages

    def test_a_repeated_apply_touches_nothing_and_a_check_tells_drift(self):
        files = self.machine()
        path = self.input_file("lab.json", json.dumps(self.SETTINGS).encode())
        first, logged = self.logged_run("--apply", path)
        self.assert_status(first, 0)
        shown = {"AllowAudio": "1 -> 0", "StealthMode": "not set -> 1",
                 "AlertOnUpdate": "not set -> true",
                 "ClassroomServerAddress": "not set -> 10.1.1.1:8080",
                 "MaxThumbnailStudents": "not set -> 40"}
        students = ("StealthMode", "ClassroomServerAddress")
        self.assertEqual(logged, ["root (sudo jdoe) changed %s: %s: %s" % (f, key, shown[key])
                                  for f, keys in ((files[0], shown), (files[1], shown),
                                                  (files[2], students)) for key in keys])
        # The folder too: no lock file comes and goes.
        stamps = [(os.stat(p).st_ino, os.stat(p).st_mtime_ns) for p in files + [self.system]]
        again, logged = self.logged_run("--apply", path)
        self.assertEqual((again, logged), (first, []))
        self.assertEqual([(os.stat(p).st_ino, os.stat(p).st_mtime_ns)
                          for p in files + [self.system]], stamps)
        self.assert_student_daemon_kills(1)
        compliant = self.as_root("--check", "--apply", path)
        self.assertEqual(compliant, (0, b"Nothing would change.\n", b""))

        # Someone changes the student file: the check tells, and touches nothing.
        self.make_prefs(files[2], {"Kept": "yes", "StealthMode": 0,
                                   "ClassroomServerAddress": "10.1.1.1:8080"})
        drifted = self.snapshot(files[2])
        self.assertEqual(self.as_root("--check", "--apply", path), (2, (
            "%s would change:\n  StealthMode: 0 -> 1\n"
            "  ClassroomServerAddress: 10.1.1.1:8080 (stays the same)\n" % files[2]).encode(), b""))
        self.assert_untouched(files[2], drifted)
        self.assert_student_daemon_kills(1)
        run = self.as_root("--json", "--apply", path)
        self.assertEqual((run.status, run.stderr), (0, b""))
        in_place = {"changed": {}, "inPlace": list(self.SETTINGS), "failure": None}
        self.assertEqual(json.loads(run.stdout), {"changed": True, "files": [
            dict(in_place, file=files[0]), dict(in_place, file=files[1]),
            {"file": files[2], "changed": {"StealthMode": {"old": 0, "new": 1}},
             "inPlace": ["ClassroomServerAddress"], "failure": None}]})
        self.assertEqual([(os.stat(p).st_ino, os.stat(p).st_mtime_ns) for p in files[:2]],
                         stamps[:2])
        self.assert_student_daemon_kills(2)

        # A file that cannot be read: status 1, and with --json the failure's step.
        with open(files[1], "w") as f:
            f.write("not a property list")
        self.assertEqual(self.as_root("--check", "--apply", path).status, 1)
        run = self.as_root("--json", "--apply", path)
        self.assertEqual((run.status, json.loads(run.stdout)["files"][1]["failure"]["step"]),
                         (1, "open"))

    def test_a_listing_applied_to_a_fresh_machine_reproduces_the_settings(self):
        reference = dict(self.SETTINGS, CleverURL="http://x/\u00e9", DisableClassLists=False)
        for option in ("--json", "--plist"):
            self.empty_system_folder()
            self.make_prefs(self.system_file(TEACHER), dict(reference, Other="kept here"))
            exported = self.as_root("--list", option)
            self.assert_status(exported, 0)
            self.empty_system_folder()
            fresh = self.make_prefs(self.system_file(OLD_TEACHER), {})
            run = self.as_root("--apply", self.input_file("listing", exported.stdout))
            self.assert_stderr(run, "")
            self.assert_status(run, 0)
            self.assertEqual(self.assert_stored(fresh, reference), reference)

    def test_exported_profile_enforces_the_settings_in_every_domain(self):
        uuid_re = re.compile(r"^[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-"
                             r"[0-9A-F]{12}$")
        path = self.input_file("in.json", json.dumps(self.SETTINGS).encode())
        given = "12345678-90ab-4cde-8f01-234567890abc"
        runs = [self.as_root("--export-profile", "--apply", path, "--uuid", given,
                             "--identifier", "org.school.lab") for _ in range(2)]
        self.assertEqual(runs[0], runs[1])  # The same options give the same bytes.
        self.assert_status(runs[0], 0)
        self.assertTrue(runs[0].stdout.startswith(b"<?xml"))
        relaid = subprocess.run([ARGS.plist_tool, "convert", "xml"], input=runs[0].stdout,
                                stdout=subprocess.PIPE, check=True)
        self.assertEqual(relaid.stdout, runs[0].stdout, "not laid out as the project writes")
        profile = plistlib.loads(runs[0].stdout)
        self.assertEqual({k: v for k, v in profile.items() if k != "PayloadContent"}, {
            "PayloadType": "Configuration", "PayloadVersion": 1, "PayloadUUID": given.upper(),
            "PayloadIdentifier": "org.school.lab.global", "PayloadScope": "System",
            "PayloadDisplayName": "brtconfig: global settings (org.school.lab.global)"})
        [payload] = profile["PayloadContent"]
        self.assertEqual(payload["PayloadType"], "com.apple.ManagedClient.preferences")
        self.assertEqual(payload["PayloadIdentifier"], "org.school.lab.global.preferences")
        self.assertEqual(payload["PayloadVersion"], 1)
        self.assertRegex(payload["PayloadUUID"], uuid_re)
        students = {"StealthMode": 1, "ClassroomServerAddress": "10.1.1.1:8080"}
        expected = {TEACHER: self.SETTINGS, OLD_TEACHER: self.SETTINGS,
                    CONSOLE: self.SETTINGS, OLD_CONSOLE: self.SETTINGS,
                    STUDENT: students, OLD_STUDENT: students}
        self.assertEqual(payload["PayloadContent"], {
            name[:-len(".plist")]: {"Forced": [{"mcx_preference_settings": values}]}
            for name, values in expected.items()})
        for value in payload["PayloadContent"][TEACHER[:-6]]["Forced"][0][
                "mcx_preference_settings"].values():
            self.assertIn(type(value), (bool, int, str))

        # From the teacher's own settings with the same prefix: another identifier, name
        # and scope; the same settings give the same bytes, changed ones new UUIDs.
        self.make_prefs(self.user_file(TEACHER), {"thumbnailDelay": 2000, "logLevel": 9})
        options = ("--export-profile", "--identifier", "org.school.lab")
        teacher = [self.as_user(*options) for _ in range(2)]
        self.assertEqual(teacher[0], teacher[1])
        self.assert_status(teacher[0], 0)
        first = plistlib.loads(teacher[0].stdout)
        self.assertEqual((first["PayloadScope"], first["PayloadIdentifier"],
                          first["PayloadDisplayName"]),
                         ("User", "org.school.lab.teacher",
                          "brtconfig: teacher settings (org.school.lab.teacher)"))
        self.assertEqual(first["PayloadContent"][0]["PayloadContent"][TEACHER[:-6]],
                         {"Forced": [{"mcx_preference_settings": {"thumbnailDelay": 2000}}]})
        self.make_prefs(self.user_file(TEACHER), {"thumbnailDelay": 2001})
        changed = plistlib.loads(self.as_user(*options).stdout)
        uuids = [p["PayloadUUID"] for p in (first, changed, profile)] + [
            p["PayloadContent"][0]["PayloadUUID"] for p in (first, changed, profile)]
        for uuid in uuids[:2] + uuids[3:]:
            self.assertRegex(uuid, uuid_re)
        self.assertEqual(len(set(uuids)), 6)

    def test_exported_profile_carries_every_text_exactly_or_refuses(self):
        text = "line one\r\nline\ttwo <b>&amp; \u00e9\r"
        path = self.input_file("in.json", json.dumps(
            {"ClassroomServerAddress": text, "AllowAudio": 1}).encode())
        run = self.as_root("--export-profile", "--apply", path, "--display-name", text,
                           "--organization", "Lab & <Co>", "--description", "a\tb\rc",
                           "--removal-disallowed")
        self.assert_stderr(run, "")
        self.assert_status(run, 0)
        self.assertNotIn(b"\r", run.stdout)
        profile = plistlib.loads(run.stdout)
        self.assertEqual((profile["PayloadDisplayName"], profile["PayloadOrganization"],
                          profile["PayloadDescription"], profile["PayloadRemovalDisallowed"]),
                         (text, "Lab & <Co>", "a\tb\rc", True))
        for domain in profile["PayloadContent"][0]["PayloadContent"].values():
            self.assertEqual(domain["Forced"][0]["mcx_preference_settings"][
                "ClassroomServerAddress"], text)

        # One line and nothing printed for what a profile cannot be made of.
        empty = self.input_file("empty.json", b"{}")
        identifier = ("--identifier needs a reverse-DNS prefix such as org.example.lab: "
                      "letters, digits and hyphens, in two or more parts joined by dots, "
                      "at most 235 characters.\n")
        for args, message in [
            (("--apply", empty), "Nothing to export: the profile would force no setting.\n"),
            ((), "Nothing to export: the profile would force no setting.\n"),
            (("--apply", path, "--identifier", ""), identifier),
            (("--apply", path, "--identifier", "org.lab\x01"), identifier),
            (("--apply", path, "--identifier", "lab"), identifier),
            (("--apply", path, "--identifier", "org." + "a" * 232), identifier),
            (("--apply", path, "--display-name", "a\x0bb"),
             "--display-name holds a character that a profile cannot carry.\n"),
            (("--apply", path, "--description", ""), "--description needs a text.\n"),
            (("--apply", self.input_file("bad.json", json.dumps(
                {"CleverURL": "http://x/\uffff"}).encode())),
             "The value of CleverURL holds a character that a profile cannot carry.\n"),
        ]:
            self.assert_refused(self.as_root("--export-profile", *args), message)
        self.assert_refused(self.as_root("--organization", "x", "AllowAudio"),
                            "--organization needs --export-profile.\n")
        # The longest prefix: a teacher profile's payload identifier would be 255 long.
        run = self.as_root("--export-profile", "--apply", path, "--identifier", "org." + "a" * 231)
        self.assert_status(run, 0)
        self.assertEqual(len(plistlib.loads(run.stdout)["PayloadContent"][0][
            "PayloadIdentifier"]), 235 + len(".global.preferences"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--brtconfig", required=True, help="the binary under test")
    parser.add_argument("--system-folder", required=True,
                        help="the system-wide preference folder built into that binary")
    parser.add_argument("--managed-folder", required=True,
                        help="the managed preferences folder built into that binary")
    parser.add_argument("--plist-cat", required=True, help="the project's plist reader helper")
    parser.add_argument("--plist-tool", required=True,
                        help="the project's plist converter (plist_tool)")
    parser.add_argument("--killall-dir", required=True, help="folder of the stand-in killall")
    parser.add_argument("--sanitized", action="store_true",
                        help="the binary is built with AddressSanitizer")
    ARGS, rest = parser.parse_known_args()
    build_tree = os.path.dirname(os.path.dirname(ARGS.brtconfig))
    for folder in (ARGS.system_folder, ARGS.managed_folder):
        if not folder.startswith(build_tree):
            sys.exit("refusing to use a system folder outside the build tree")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
