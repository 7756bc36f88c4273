"""The utility's contract for the Python helpers, read from the C++ headers that hold it, so a
change there reaches the soak and the peers too."""
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _read(relative):
    with open(os.path.join(ROOT, relative)) as header:
        return header.read()


def _string(text, name):
    match = re.search(r'\b%s\[\] = "([^"]*)"' % name, text)
    if not match:
        raise RuntimeError("zolvekcontract: %s not found" % name)
    return match.group(1)


_host = _read("settings/hostcontract.h")
WINDOW_TITLE = _string(_host, "WindowTitle")
MESSAGE_NAME = _string(_host, "MessageName")

# Control centres in window pixels: {"MoreButton": (39, 84), ...}
POINTS = {name: (int(x), int(y)) for name, x, y in re.findall(
    r"inline const QPoint (\w+)\((\d+), (\d+)\)", _read("tests/screenpoints.h"))}

LAST_PORT = int(re.search(r"LastPort = (\d+);", _read("serial/commcontrol.h")).group(1))


def write_test_store(config_home, com1):
    """A fresh store whose [Ports] maps COM1 to `com1` and every other port the utility accepts
    to a missing path, so nothing can fall back to a real serial device."""
    folder = os.path.join(config_home, "KELD")
    os.makedirs(folder, mode=0o700, exist_ok=True)
    with open(os.path.join(folder, "settings.ini"), "w") as store:
        store.write("[Ports]\nCOM1=%s\n" % com1)
        for port in range(2, LAST_PORT + 1):
            store.write("COM%d=%s/missing-com%d\n" % (port, config_home, port))
