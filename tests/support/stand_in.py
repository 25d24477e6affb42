"""Stand-in programs for the script tests: small shell scripts in a sandbox."""

import os
import stat


def write_script(path, text):
    """Writes `text` as an executable /bin/sh script at `path`."""
    with open(path, 'w') as f:
        f.write('#!/bin/sh\n' + text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
