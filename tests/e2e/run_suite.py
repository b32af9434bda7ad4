"""Runs one end-to-end suite for ctest: the tests of the module named, or of the
classes named after it, or all but those named with a leading ~. Exits 1 when a
test failed, 77 when any was skipped (ctest shows the suite as skipped, never as
passed with tests left out), 0 when every test ran and passed.

--private-build first copies the game (PZ_BINARY) into a folder only its owner
may enter, as a build in a clone under /root (mode 0700) is, and runs the
suite on that copy."""

import os
import shutil
import sys
import tempfile
import unittest

SKIPPED = 77


def use_private_build():
    folder = tempfile.mkdtemp(prefix="pz-private-build-")   # mode 0700
    game = os.path.join(folder, "prozorometr")
    shutil.copy2(os.environ["PZ_BINARY"], game)
    os.environ["PZ_BINARY"] = game
    return folder


def chosen_tests(module_name, selectors):
    module = __import__(module_name)
    wanted = [name for name in selectors if not name.startswith("~")]
    if not wanted:
        left_out = {name[1:] for name in selectors}
        wanted = [name for name, value in vars(module).items()
                  if isinstance(value, type) and issubclass(value, unittest.TestCase) and name not in left_out]
    return unittest.defaultTestLoader.loadTestsFromNames(wanted, module)


def main(arguments):
    private = arguments[:1] == ["--private-build"]
    folder = use_private_build() if private else None
    try:
        result = unittest.TextTestRunner(verbosity=2).run(chosen_tests(arguments[private], arguments[private + 1:]))
    finally:
        if folder:
            shutil.rmtree(folder, ignore_errors=True)
    if not result.wasSuccessful() or result.testsRun == 0:
        return 1
    return SKIPPED if result.skipped else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
