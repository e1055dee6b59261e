"""README's Python example runs from the top of the source tree and prints what README says."""
import os
import re
import subprocess
import sys

from conftest import SOURCE_DIR


def test_readme_example_prints_what_readme_shows():
    readme = (SOURCE_DIR / "README.md").read_text()
    section = readme[readme.index("\n## Python\n"):]
    section = section[:section.index("\n## ", 1)]
    code, printed = re.search(r"```python\n(.*?)```\n\nprints\n\n```\n(.*?)```", section,
                              re.DOTALL).groups()
    got = subprocess.run([sys.executable, "-c", code], cwd=SOURCE_DIR, capture_output=True,
                         text=True, env=os.environ, check=False)
    assert (got.returncode, got.stderr, got.stdout) == (0, "", printed)
