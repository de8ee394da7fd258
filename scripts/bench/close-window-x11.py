#!/usr/bin/python3
"""Closes a window program's window on an X display as a window manager's
close box does (WM_DELETE_WINDOW) and times how long the window stays mapped
and the program runs after that.
  close-window-x11.py CAPTION READY_FILE [--settle SECONDS] -- PROGRAM [ARGS...]
Starts PROGRAM, waits for its window titled CAPTION and for READY_FILE to
exist with some bytes in it (then SECONDS more), closes the window, and prints
  closed: hidden after X ms, ended after Y ms
Every wait is bounded (60 s for the window and the file, 30 s for the end)."""
import ctypes, ctypes.util, os, subprocess, sys, time

caption, ready = sys.argv[1].encode(), sys.argv[2]
program = sys.argv[sys.argv.index("--") + 1:]
settle = float(sys.argv[sys.argv.index("--settle") + 1]) if "--settle" in sys.argv else 0.0
x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                         ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                         ctypes.POINTER(ctypes.c_uint)]
x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
x.XFree.argtypes = [ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


class Attributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(ClientMessage)]
x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(Attributes)]
IS_VIEWABLE, CLIENT_MESSAGE = 2, 33

# A window gone between two requests is an error to ignore, not the end of the run.
IGNORE_ERRORS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
x.XSetErrorHandler(IGNORE_ERRORS)
display = x.XOpenDisplay(None)
if not display:
    sys.exit("close-window-x11: no display")


def find(window):
    name = ctypes.c_char_p()
    if x.XFetchName(display, window, ctypes.byref(name)) and name.value:
        found = name.value == caption
        x.XFree(name)
        if found:
            return window
    root, parent, children, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    if not x.XQueryTree(display, window, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(children),
                        ctypes.byref(count)):
        return None
    try:
        for i in range(count.value):
            if (hit := find(children[i])):
                return hit
    finally:
        if children:
            x.XFree(children)
    return None


def viewable(window):
    attributes = Attributes()
    return x.XGetWindowAttributes(display, window, ctypes.byref(attributes)) and attributes.map_state == IS_VIEWABLE


process = subprocess.Popen(program, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    limit, window = time.monotonic() + 60, None
    while time.monotonic() < limit:
        window = window or find(x.XDefaultRootWindow(display))
        if window and viewable(window) and os.path.exists(ready) and os.path.getsize(ready) > 0:
            break
        time.sleep(0.01)
    else:
        sys.exit("close-window-x11: no window \"%s\" with %s within 60 s" % (caption.decode(), ready))
    time.sleep(settle)
    event = ClientMessage(type=CLIENT_MESSAGE, window=window, format=32,
                          message_type=x.XInternAtom(display, b"WM_PROTOCOLS", 0))
    event.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    closed = time.monotonic()
    x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x.XFlush(display)
    while viewable(window) and time.monotonic() - closed < 30:
        time.sleep(0.002)
    hidden = time.monotonic()
    process.wait(timeout=30)
    ended = time.monotonic()
    print("closed: hidden after %d ms, ended after %d ms" % ((hidden - closed) * 1000, (ended - closed) * 1000))
finally:
    if process.poll() is None:
        process.kill()
        process.wait()
