# A GTK 3 window with a text entry and a password entry, run as the target of input-method tests.
# Reports on stdout, one JSON object a line: {"ready"}, {"focus": name}, {"text": value, "entry": name},
# {"preedit": text, "entry": name}. Reads commands on stdin: "focus main|password", "clear", "refocus" (the main
# entry loses and takes the focus again, so the input method hears of it afresh).
import json
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk


def say(**record):
    sys.stdout.write(json.dumps(record, ensure_ascii=False) + "\n")
    sys.stdout.flush()


window = Gtk.Window(title="voxle ime probe")
window.set_default_size(900, 120)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
entries = {"main": Gtk.Entry(), "password": Gtk.Entry()}
entries["password"].set_visibility(False)
entries["password"].set_input_purpose(Gtk.InputPurpose.PASSWORD)
for name, entry in entries.items():
    box.pack_start(entry, False, False, 0)
    entry.connect("changed", lambda e, n=name: say(text=e.get_text(), entry=n))
    entry.connect("preedit-changed", lambda e, p, n=name: say(preedit=p, entry=n))
    entry.connect("focus-in-event", lambda e, ev, n=name: say(focus=n) and False)
window.add(box)
window.connect("destroy", Gtk.main_quit)


def command(channel, condition):
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
        return False
    words = line.split()
    if words[:1] == ["focus"]:
        entries[words[1]].grab_focus()
    elif words[:1] == ["refocus"]:
        window.set_focus(None)
        entries["main"].grab_focus()
    elif words[:1] == ["clear"]:
        for entry in entries.values():
            entry.set_text("")
    return True


GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, command)
window.show_all()
window.present()
entries["main"].grab_focus()
say(ready=True)
Gtk.main()
