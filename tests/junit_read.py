#!/usr/bin/env python3
"""Reads a JUnit XML report as a CI system would (xml.etree) and prints what
it holds, one line each, for the script report test to compare:
  suites tests=N failures=N errors=N
  suite NAME tests=N failures=N errors=N
  case NAME|CLASSNAME|ok, or failure: MESSAGE|TEXT, or error: MESSAGE|TEXT
  out TEXT
with each line break in a value written as \\n.
Times must read as numbers of seconds; a report that does not parse, or a
time that is not one, exits with status 1."""
import sys
import xml.etree.ElementTree as ElementTree


def one_line(text):
    return (text or "").replace("\n", "\\n")


def counts(element):
    return " ".join(f"{key}={element.get(key)}" for key in ("tests", "failures", "errors"))


def seconds(element):
    value = float(element.get("time"))
    if value < 0:
        raise ValueError("negative time")


root = ElementTree.parse(sys.argv[1]).getroot()
seconds(root)
print("suites", counts(root))
for suite in root.iter("testsuite"):
    seconds(suite)
    print("suite", suite.get("name"), counts(suite))
    for case in suite.iter("testcase"):
        seconds(case)
        verdict = "ok"
        for kind in ("failure", "error"):
            found = case.find(kind)
            if found is not None:
                verdict = f"{kind}: {one_line(found.get('message'))}|{one_line(found.text)}"
        print(f"case {one_line(case.get('name'))}|{case.get('classname')}|{verdict}")
    out = suite.find("system-out")
    if out is not None:
        print("out", one_line(out.text))
