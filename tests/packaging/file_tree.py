"""What the packaging tests compare folders by."""

import os
import stat


def tree(root, folders=True):
    """Every entry under root by relative path: a file's bytes and whether it
    is executable, a link's target, or None for a folder (left out when not
    `folders`: a build tree may hold empty folders an install does not make)."""
    entries = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root)
            if os.path.islink(path):
                entries[rel] = ('link', os.readlink(path))
            elif os.path.isdir(path):
                if folders:
                    entries[rel] = None
            else:
                with open(path, 'rb') as f:
                    entries[rel] = (f.read(), bool(os.stat(path).st_mode & stat.S_IXUSR))
    return entries
