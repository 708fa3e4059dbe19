// A small clipboard manager for the injection tests, as the common ones behave: it owns CLIPBOARD_MANAGER, and
// whenever another client takes the clipboard it copies the text and takes the clipboard over with that same
// text ("TOOK:<text>"), ignoring any hint that asks it not to. Prints "MANAGING" once running.
#include <cstdio>
#include <cstring>
#include <string>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

int main()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return 2;
    int fixesEvent = 0, fixesError = 0;
    if (!XFixesQueryExtension(display, &fixesEvent, &fixesError))
        return 2;
    const Window root = DefaultRootWindow(display);
    const Window window = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom manager = XInternAtom(display, "CLIPBOARD_MANAGER", False);
    const Atom targets = XInternAtom(display, "TARGETS", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom property = XInternAtom(display, "VOXLE_MANAGER_COPY", False);
    XSetSelectionOwner(display, manager, window, CurrentTime);
    XFixesSelectSelectionInput(display, root, clipboard, XFixesSetSelectionOwnerNotifyMask);
    std::printf("MANAGING\n");
    std::fflush(stdout);

    std::string text;
    while (true) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == fixesEvent + XFixesSelectionNotify) {
            const auto *notify = reinterpret_cast<XFixesSelectionNotifyEvent *>(&event);
            if (notify->owner != window && notify->owner != None)
                XConvertSelection(display, clipboard, utf8, property, window, CurrentTime);
        } else if (event.type == SelectionNotify && event.xselection.property == property) {
            Atom type = None;
            int format = 0;
            unsigned long count = 0, remaining = 0;
            unsigned char *data = nullptr;
            if (XGetWindowProperty(display, window, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &count,
                                   &remaining, &data) == Success &&
                data) {
                text.assign(reinterpret_cast<char *>(data), count);
                XFree(data);
                XSetSelectionOwner(display, clipboard, window, CurrentTime);
                std::printf("TOOK:%s\n", text.c_str());
                std::fflush(stdout);
            }
        } else if (event.type == SelectionRequest) {
            const XSelectionRequestEvent &request = event.xselectionrequest;
            XEvent reply{};
            reply.xselection.type = SelectionNotify;
            reply.xselection.requestor = request.requestor;
            reply.xselection.selection = request.selection;
            reply.xselection.target = request.target;
            reply.xselection.time = request.time;
            reply.xselection.property = None;
            if (request.selection == clipboard && request.target == targets) {
                const Atom list[] = {targets, utf8};
                XChangeProperty(display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<const unsigned char *>(list), 2);
                reply.xselection.property = request.property;
            } else if (request.selection == clipboard && request.target == utf8) {
                XChangeProperty(display, request.requestor, request.property, utf8, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char *>(text.data()), int(text.size()));
                reply.xselection.property = request.property;
            } else if (request.selection == manager) {
                reply.xselection.property = request.property;
            }
            XSendEvent(display, request.requestor, False, NoEventMask, &reply);
            XFlush(display);
        }
    }
}
