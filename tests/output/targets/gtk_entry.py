#!/usr/bin/python3
# A GTK 3 text entry in its own process, for the injection tests. Prints "FOCUSED" once the entry holds the
# keyboard focus and "TEXT:<content>" after every change, one line each, flushed.
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def main():
    window = Gtk.Window(title="voxle gtk entry")
    window.set_default_size(600, 80)
    entry = Gtk.Entry()
    entry.set_text(sys.argv[1] if len(sys.argv) > 1 else "")
    window.add(entry)
    window.connect("destroy", Gtk.main_quit)
    entry.connect("changed", lambda e: say("TEXT:" + e.get_text()))
    focused = {"said": False}

    def on_focus(widget, _event):
        if not focused["said"]:
            focused["said"] = True
            # Caret at the end, no selection, like a field the user is typing in.
            GLib.idle_add(lambda: (entry.set_position(-1), say("FOCUSED"))[0] and False)
        return False

    entry.connect("focus-in-event", on_focus)
    window.show_all()
    window.present()
    entry.grab_focus()
    Gtk.main()


if __name__ == "__main__":
    main()
