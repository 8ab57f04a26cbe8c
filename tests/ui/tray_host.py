#!/usr/bin/python3
"""A minimal system tray for tests: owns _NET_SYSTEM_TRAY_S0 on $DISPLAY and
docks every icon that asks (XEmbed), printing "ready" once it owns the
selection and "docked <window id>" for each icon. Runs until it is ended.
"""
import sys

from Xlib import X, Xatom, display
from Xlib.protocol import event

connection = display.Display()
screen = connection.screen()
root = screen.root
selection = connection.intern_atom(f"_NET_SYSTEM_TRAY_S{connection.get_default_screen()}")
opcode = connection.intern_atom("_NET_SYSTEM_TRAY_OPCODE")
manager = connection.intern_atom("MANAGER")
orientation = connection.intern_atom("_NET_SYSTEM_TRAY_ORIENTATION")
visual = connection.intern_atom("_NET_SYSTEM_TRAY_VISUAL")
REQUEST_DOCK = 0

host = root.create_window(0, 0, 240, 32, 0, screen.root_depth, X.InputOutput, X.CopyFromParent,
                          background_pixel=screen.white_pixel,
                          event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
host.change_property(orientation, Xatom.CARDINAL, 32, [0])
host.change_property(visual, Xatom.VISUALID, 32, [screen.root_visual])
host.map()
host.set_selection_owner(selection, X.CurrentTime)
connection.sync()
if connection.get_selection_owner(selection) != host:
    print("tray_host: could not own the tray selection", flush=True)
    sys.exit(1)
announce = event.ClientMessage(window=root, client_type=manager,
                               data=(32, [X.CurrentTime, selection, host.id, 0, 0]))
root.send_event(announce, event_mask=X.StructureNotifyMask)
connection.flush()
print("ready", flush=True)

docked = 0
while True:
    received = connection.next_event()
    if received.type == X.ClientMessage and received.client_type == opcode:
        fields = received.data[1]
        if fields[1] == REQUEST_DOCK:
            icon = connection.create_resource_object("window", fields[2])
            icon.reparent(host, 4 + 28 * docked, 4)
            icon.configure(width=24, height=24)
            icon.map()
            connection.flush()
            docked += 1
            print(f"docked {fields[2]}", flush=True)
