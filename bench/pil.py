# The Python image library for the benchmarks' peers: the Debian package
# installs it for the system's python3, which another python3 first on the
# PATH may not see; then the peer runs again under the system's.
import os
import sys

try:
    from PIL import Image  # noqa: F401
except ImportError:
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise
