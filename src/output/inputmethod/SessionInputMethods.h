// The input methods of the session that cards have to get past.
#pragma once

#include "output/inputmethod/InputMethod.h"

#include <QStringList>

#include <memory>
#include <vector>

struct SessionInputMethods {
    std::vector<std::unique_ptr<InputMethod>> found;  // running, and switched for each card
    QStringList unknown;                              // named by the session's settings, but none we know how to switch
};

// fcitx5 on the session bus, IBus on its own bus for this display, and the
// others the session names (GTK_IM_MODULE, QT_IM_MODULE, XMODIFIERS).
SessionInputMethods findInputMethods();
