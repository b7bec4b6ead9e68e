"""Prints the test classes of the modules named, one "module.Class" a line, in the order they
stand: every class of its own that a module gives unittest to run. The build makes one CTest
test of each, so that a new class runs without being listed anywhere else.

Usage: python3 cases.py MODULE...
"""

import importlib
import sys
import unittest


def cases(name):
    module = importlib.import_module(name)
    loader = unittest.TestLoader()
    for value in vars(module).values():
        if (isinstance(value, type) and issubclass(value, unittest.TestCase)
                and value.__module__ == name and loader.getTestCaseNames(value)):
            yield f"{name}.{value.__name__}"


if __name__ == "__main__":
    for name in sys.argv[1:]:
        for case in cases(name):
            print(case)
