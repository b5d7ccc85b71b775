#include "output/inputmethod/SessionInputMethods.h"

#include "output/inputmethod/Fcitx5InputMethod.h"
#include "output/inputmethod/IBusInputMethod.h"

SessionInputMethods findInputMethods()
{
    SessionInputMethods session;
    if (auto fcitx5 = Fcitx5InputMethod::find())
        session.found.push_back(std::move(fcitx5));
    if (auto ibus = IBusInputMethod::find())
        session.found.push_back(std::move(ibus));
    // What the desktop tells programs to use; the toolkits' own simple
    // modules and plain XIM without a server change no keys.
    const QStringList known{"ibus",    "fcitx",   "fcitx5",  "", "none", "xim", "simple", "gtk-im-context-simple",
                            "compose", "wayland", "@im=none"};
    for (const char* variable : {"GTK_IM_MODULE", "QT_IM_MODULE", "XMODIFIERS"}) {
        QString name = qEnvironmentVariable(variable).trimmed().toLower();
        if (name.startsWith(QLatin1String("@im=")))
            name = name.mid(4);
        if (!known.contains(name) && !session.unknown.contains(name))
            session.unknown << name;
    }
    return session;
}
