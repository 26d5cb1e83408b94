#!/usr/bin/env python3
# CI's closing line, from the JUnit files CTest wrote: in the build folders
# out/*/, and in out/junit/ those of the suites that ran in a root of their
# own, the release's and the fresh machines'. Never out/**, which would follow
# a wine prefix's link to / over the whole file system. Above it, the skips
# counted by the reason each skipped test gave, so that the forced ones stand
# apart from those of a machine that cannot execute 32-bit code.
import glob
import xml.etree.ElementTree as ET
from collections import Counter

paths = glob.glob("out/*/junit.xml") + glob.glob("out/junit/**/*.xml", recursive=True)
cases = [case for path in paths for case in ET.parse(path).iter("testcase")]
found = Counter(case.get("status") for case in cases)
skips = Counter(case.findtext("system-out", "").strip() for case in cases if case.get("status") == "notrun")
for reason, count in sorted(skips.items()):
    print(f"ci: {count} {reason}")
print(f"ci: {found['run']} passed, {found['fail']} failed, {found['notrun']} skipped")
