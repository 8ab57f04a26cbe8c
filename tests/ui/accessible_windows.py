#!/usr/bin/python3
"""Prints what a screen reader finds as the windows of one process: the role
and name of each top-level accessible object, a tab between, one a line.

    accessible_windows.py PID

Needs DISPLAY and DBUS_SESSION_BUS_ADDRESS of a session whose accessibility
bus runs. Exit status 1 while the process shows no window there.
"""
import sys

import pyatspi


def main():
    pid = int(sys.argv[1])
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is None or app.get_process_id() != pid or app.childCount == 0:
                continue
            for j in range(app.childCount):
                window = app.getChildAtIndex(j)
                print(f"{window.getRoleName()}\t{window.name}")
            return 0
        except Exception:  # an application can leave while it is read
            continue
    return 1


if __name__ == "__main__":
    sys.exit(main())
