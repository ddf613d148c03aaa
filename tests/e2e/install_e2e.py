#!/usr/bin/env python3
"""End to end: installing. `cmake --install` into a temporary root and the
Debian packages that cpack builds: the programs run from there, keep their
data per user, the desktop entry validates, the service's unit is hardened
and the packages pass lintian.
Usage: install_e2e.py BUILD_DIR"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from outcome import run_tests

BUILD = sys.argv[1]


def run(*args, env=None, **kw):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=300, env=env, **kw)


class Installing(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvex-install-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def check_root(self, root):
        usr = os.path.join(root, "usr")
        for path in ["bin/tarvex", "bin/tarvex-cli", "share/applications/tarvex.desktop",
                     "share/icons/hicolor/scalable/apps/tarvex.svg", "share/mime/packages/tarvex.xml",
                     "share/doc/tarvex/README.md", "share/tarvex/samples/sample.nc"]:
            self.assertTrue(os.path.isfile(os.path.join(usr, path)), path)
        out = run("desktop-file-validate", os.path.join(usr, "share/applications/tarvex.desktop"))
        self.assertEqual((out.returncode, out.stdout + out.stderr), (0, ""))
        # Installed, the data folder is the user's, even for a user who could
        # write beside the program.
        env = dict(os.environ, HOME=os.path.join(self.dir, "user"), XDG_DATA_HOME="")
        env.pop("TARVEX_HOME", None)
        sample = os.path.join(usr, "share/tarvex/samples/sample.nc")
        out = run(os.path.join(usr, "bin/tarvex-cli"), "expand", sample, "--summary", env=env)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout.splitlines()[-1], "end ok")
        data = os.path.join(self.dir, "user", ".local", "share", "Tarvex")
        self.assertTrue(os.path.isfile(os.path.join(data, "SUBPRO", "O1000")))
        self.assertFalse(os.path.exists(os.path.join(usr, "bin", "SUBPRO")))
        shutil.rmtree(os.path.join(self.dir, "user"))

    def test_cmake_install_into_a_temporary_root(self):
        root = os.path.join(self.dir, "root")
        out = run("cmake", "--install", BUILD, "--prefix", "/usr", env=dict(os.environ, DESTDIR=root))
        self.assertEqual(out.returncode, 0, out.stderr)
        self.check_root(root)

    def test_debian_package(self):
        out = run("cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                  "-B", os.path.join(self.dir, "pkg"))
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        debs = glob.glob(os.path.join(self.dir, "pkg", "tarvex_*_amd64.deb")) + \
            glob.glob(os.path.join(self.dir, "pkg", "tarvex_*.deb"))
        self.assertTrue(debs)
        deb = debs[0]
        self.assertEqual(run("dpkg-deb", "-f", deb, "Version").stdout.strip(), "2.1.25")
        # Every dependency is a package of Debian's, present here as the build needs them.
        depends = [d.strip().split()[0] for d in run("dpkg-deb", "-f", deb, "Depends").stdout.split(",")]
        self.assertIn("libqscintilla2-qt6-15", depends)
        for d in depends:
            self.assertEqual(run("dpkg-query", "-W", d).returncode, 0, d)
        root = os.path.join(self.dir, "root")
        self.assertEqual(run("dpkg-deb", "-x", deb, root).returncode, 0)
        self.check_root(root)

        # The service in its own package: the program and its unit, which
        # systemd accepts; installing neither enables nor (re)starts it.
        dnc = glob.glob(os.path.join(self.dir, "pkg", "tarvex-dnc_*.deb"))[0]
        self.assertIn("adduser", run("dpkg-deb", "-f", dnc, "Depends").stdout)
        droot = os.path.join(self.dir, "dnc")
        self.assertEqual(run("dpkg-deb", "-x", dnc, droot).returncode, 0)
        self.assertEqual(run("dpkg-deb", "-e", dnc, os.path.join(droot, "DEBIAN")).returncode, 0)
        with open(os.path.join(droot, "DEBIAN", "postinst")) as f:
            postinst = f.read()
        self.assertIn("adduser --quiet tarvex-dnc dialout", postinst)
        commands = "".join(l for l in postinst.splitlines(True) if not l.lstrip().startswith("#"))
        for word in ("enable", "deb-systemd-invoke", "restart", "start"):
            self.assertNotIn(word, commands)
        unit = os.path.join(droot, "usr/lib/systemd/system/tarvex-dnc.service")
        program = os.path.join(droot, "usr/bin/tarvex-dnc")
        checked = os.path.join(self.dir, "unit", "tarvex-dnc.service")
        os.makedirs(os.path.dirname(checked))
        with open(unit) as f, open(checked, "w") as out:
            out.write(f.read().replace("/usr/bin/tarvex-dnc", program))
        out = run("systemd-analyze", "verify", checked)
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        out = run("systemd-analyze", "security", "--offline=true", checked)
        exposure = re.search(r"Overall exposure level for \S+: ([0-9.]+)", out.stdout)
        self.assertTrue(exposure and out.returncode == 0, out.stdout + out.stderr)
        self.assertLessEqual(float(exposure.group(1)), 4.5, out.stdout)
        # The sandbox leaves the example configuration's folders writable.
        with open(unit) as f:
            settings = f.read()
        with open(os.path.join(droot, "usr/share/doc/tarvex-dnc/dnc.ini.example")) as f:
            example = dict(re.findall(r"^(Received|Logs)=(.*)$", f.read(), re.M))
        self.assertIn("ReadWritePaths=-" + example["Received"] + "\n", settings)
        self.assertIn("LogsDirectory=" + os.path.relpath(example["Logs"], "/var/log") + "\n", settings)

        # Each package has its own summary and passes lintian without an error.
        summaries = {run("dpkg-deb", "-f", d, "Description").stdout.splitlines()[0] for d in (deb, dnc)}
        self.assertEqual(len(summaries), 2, summaries)
        self.assertTrue(shutil.which("lintian"), "lintian is missing")
        out = run("lintian", deb, dnc)
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        self.assertFalse([l for l in out.stdout.splitlines() if l.startswith("E:")], out.stdout)

        # postrm, its paths moved into a scratch root: the logs stay on
        # remove and upgrade and go on purge, but for the programs that could
        # not be written anywhere else.
        with open(os.path.join(droot, "DEBIAN", "postrm")) as f:
            postrm = re.sub(r"(?<![\w.-])/(var|etc|run)/", self.dir + r"/fake/\1/", f.read())
        for line in postrm.splitlines():
            self.assertTrue("rm " not in line or self.dir in line, line)
        script = os.path.join(self.dir, "postrm")
        with open(script, "w") as f:
            f.write(postrm)
        logs = os.path.join(self.dir, "fake/var/log/tarvex-dnc")
        os.makedirs(os.path.join(logs, "unsaved", "MC1"))
        for name in ("MC1.log", "unsaved/MC1/O0012.nc"):
            open(os.path.join(logs, name), "w").close()
        for action, left in (("remove", ["MC1.log", "unsaved"]), ("upgrade", ["MC1.log", "unsaved"]),
                             ("purge", ["unsaved"])):
            self.assertEqual(run("sh", script, action).returncode, 0, action)
            self.assertEqual(sorted(os.listdir(logs)), left, action)
        self.assertTrue(os.path.isfile(os.path.join(logs, "unsaved/MC1/O0012.nc")))
        with open(os.path.join(droot, "DEBIAN", "prerm")) as f:
            self.assertIn('if [ "$1" = remove ]', f.read())

if __name__ == "__main__":
    run_tests([sys.argv[0], "-v"])
