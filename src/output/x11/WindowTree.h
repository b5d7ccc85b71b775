// A breadth-first walk down the X window tree: the keyboard looks below a
// frame for the application's own window, the tests look for their clients.
#pragma once

#include <vector>

#include <X11/Xlib.h>

namespace x11tree {

// The first window below `top`, at most `depth` levels down and breadth
// first, for which `match` holds; 0 when there is none. The walk ends early,
// with 0, once `stop` holds (the connection is gone).
template <typename Match, typename Stop> Window findBelow(Display* dpy, Window top, int depth, Match match, Stop stop)
{
    std::vector<Window> level{top};
    for (int d = 0; d < depth && !level.empty() && !stop(); ++d) {
        std::vector<Window> next;
        for (Window w : level) {
            Window root = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(dpy, w, &root, &parent, &children, &count))
                continue;
            Window found = 0;
            for (unsigned int i = 0; i < count && !found; ++i) {
                if (match(children[i]))
                    found = children[i];
                else
                    next.push_back(children[i]);
            }
            if (children)
                XFree(children);
            if (found)
                return found;
        }
        level.swap(next);
    }
    return 0;
}

}  // namespace x11tree
