// Types the cards into the window of another program the user last worked
// in. It follows that window (TargetWindow) as the desktop announces it, or
// by a modest poll where it cannot; holds a card back while our own window
// gives up the keyboard focus where keys go to the focused window; gets each
// card past the session's input methods and puts them back as they were;
// and says in the info log why a card was not typed, and when the desktop's
// keyboard goes away and comes back. How one card is typed is typeCard()'s.
//
// Cards are typed one after another, in the order read: a card waits while
// the one before it is still on its way through an input method.
#pragma once

#include "output/KeyboardOutput.h"
#include "output/inputmethod/InputMethod.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;
enum class TypeResult;

class CardTypist : public QObject {
    Q_OBJECT
public:
    // `name` is the output's, for the info log (empty for one a test hands
    // in); `language` tells the language of the lines said.
    CardTypist(std::unique_ptr<KeyboardOutput> keyboard, const QString& name, std::function<int()> language,
               QObject* parent = nullptr);
    ~CardTypist() override;

    // The session's input methods that cards get past (`found`), and those in
    // use that no card can get past (`unknown`), said at start().
    void useInputMethods(std::vector<std::unique_ptr<InputMethod>> found, const QStringList& unknown);

    // Says which output types the cards, once, and lets it ask the desktop
    // for permission where it has to, with the token of an earlier start.
    void start(const QString& restoreToken);

    // Remembers the foreground window when it is another program's.
    void appEventsIdle();

    // Types `text`, then a comma when `comma` and Enter when `enter`.
    void TypeText(const QByteArray& text, bool comma, bool enter);

    // The last window of another program that was in front; 0 until one was.
    KeyboardOutput::WindowId TargetWindow = 0;

signals:
    // A line for the info log.
    void said(const QString& line);
    // The desktop handed out a token that lets the next start go without asking.
    void restoreTokenChanged(const QString& token);
    // Our own window holds the keyboard focus the keys would go to: it has
    // to give it up (the card is typed once it has).
    void focusWanted();

private:
    struct PendingCard {
        QByteArray text;
        bool comma;
        bool enter;
    };
    // Types the cards waiting, first to last, unless one is on its way.
    void typeWaitingCards();
    void typeNow(const PendingCard& card);
    TypeResult letInputMethodsThrough(bool focusJustMoved);
    void putInputMethodsBack(const PendingCard& card, bool keysSent);
    void focusWaitTick();
    void say(TypeResult result, const QByteArray& card);
    void onNotice(KeyboardOutput::Notice notice, const std::string& detail);

    std::unique_ptr<KeyboardOutput> keyboard_;
    QString name_;
    std::function<int()> language_;
    QTimer* tmrIdle_ = nullptr;
    QSocketNotifier* foregroundWatch_ = nullptr;
    QTimer* tmrFocusWait_ = nullptr;
    QElapsedTimer focusWaitClock_;
    QList<PendingCard> pendingCards_;
    // Whether the output worked after the last card: a change either way is
    // told once.
    bool typingWorks_ = true;

    std::vector<std::unique_ptr<InputMethod>> inputMethods_;
    QStringList unknownInputMethods_;
    std::vector<InputMethod*> switched_;  // for the card being typed
    InputMethod* holdingIm_ = nullptr;    // the one that kept the last card back
    int puttingBack_ = 0;                 // input methods still taking the last card
    QTimer* tmrWordWait_ = nullptr;
    QElapsedTimer wordWaitClock_;
};
