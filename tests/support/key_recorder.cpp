// A small X client that receives keystrokes the way an ordinary application
// does (KeyPress translated with XLookupString) and reports each one on
// standard output, for the keyboard tests and the typing benchmark.
//
//   key_recorder NAME [--no-input]
//
// Prints "W <window id>" once the window exists, then for every key press
// "K <CLOCK_MONOTONIC ns> <keysym hex> <text as hex bytes, or ->".
// --no-input marks the window as one that never takes the keyboard focus.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: key_recorder NAME [--no-input]\n");
        return 2;
    }
    const bool noInput = argc > 2 && std::strcmp(argv[2], "--no-input") == 0;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "key_recorder: cannot open display\n");
        return 1;
    }
    const int screen = DefaultScreen(dpy);
    const Window w = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 10, 10, 320, 200, 1, BlackPixel(dpy, screen),
                                         WhitePixel(dpy, screen));

    XTextProperty name;
    XStringListToTextProperty(&argv[1], 1, &name);
    XClassHint classHint{argv[1], argv[1]};
    XWMHints wmHints{};
    wmHints.flags = InputHint | StateHint;
    wmHints.input = noInput ? False : True;
    wmHints.initial_state = NormalState;
    XSetWMProperties(dpy, w, &name, &name, argv, argc, nullptr, &wmHints, &classHint);
    XFree(name.value);
    const long pid = getpid();
    XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);

    XSelectInput(dpy, w, KeyPressMask | StructureNotifyMask);
    XMapWindow(dpy, w);
    XSync(dpy, False);
    std::printf("W 0x%lx\n", w);
    std::fflush(stdout);

    for (;;) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
        } else if (ev.type == KeyPress) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            char text[32];
            KeySym sym = NoSymbol;
            const int n = XLookupString(&ev.xkey, text, sizeof text, &sym, nullptr);
            const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
            std::printf("K %lld %lx ", ns, sym);
            if (n <= 0) {
                std::printf("-");
            }
            for (int i = 0; i < n; ++i) {
                std::printf("%02x", static_cast<unsigned char>(text[i]));
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
}
