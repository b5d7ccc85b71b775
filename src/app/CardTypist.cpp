#include "app/CardTypist.h"

#include "output/KeySymbols.h"
#include "output/TypeCard.h"
#include "settings/LanguageTable.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

namespace {

// Where keys go to the focused window, our own gets this long to give it up.
constexpr int kFocusWaitMs = 500;
// A card waits this long for a word the user is typing in an input method,
// looking again at these intervals.
constexpr int kWordWaitMs = 10000;
constexpr int kWordLookMs = 200;

}  // namespace

CardTypist::CardTypist(std::unique_ptr<KeyboardOutput> keyboard, const QString& name, std::function<int()> language,
                       QObject* parent)
    : QObject(parent), keyboard_(std::move(keyboard)), name_(name), language_(std::move(language))
{
    tmrFocusWait_ = new QTimer(this);
    tmrFocusWait_->setInterval(10);
    connect(tmrFocusWait_, &QTimer::timeout, this, &CardTypist::focusWaitTick);
    tmrWordWait_ = new QTimer(this);
    tmrWordWait_->setSingleShot(true);
    tmrWordWait_->setInterval(kWordLookMs);
    connect(tmrWordWait_, &QTimer::timeout, this, &CardTypist::typeWaitingCards);
    tmrIdle_ = new QTimer(this);
    tmrIdle_->setInterval(250);
    connect(tmrIdle_, &QTimer::timeout, this, &CardTypist::appEventsIdle);
    if (!keyboard_->available())
        return;
    const int fd = keyboard_->changeNotifier();
    if (fd >= 0) {
        foregroundWatch_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(foregroundWatch_, &QSocketNotifier::activated, this, [this] {
            keyboard_->drainChanges();
            appEventsIdle();
        });
    } else {
        tmrIdle_->start();
    }
    appEventsIdle();
}

CardTypist::~CardTypist()
{
    // The window may be half gone by now: nothing more is said to it. An
    // input method switched for a card goes back as the user left it. The
    // notifier goes before the output whose descriptor it watches.
    blockSignals(true);
    for (auto& im : inputMethods_)
        im->putBackNow();
    inputMethods_.clear();
    delete foregroundWatch_;
    keyboard_.reset();
}

void CardTypist::useInputMethods(std::vector<std::unique_ptr<InputMethod>> found, const QStringList& unknown)
{
    inputMethods_ = std::move(found);
    unknownInputMethods_ = unknown;
}

void CardTypist::start(const QString& restoreToken)
{
    typingWorks_ = keyboard_->available();
    if (name_.isEmpty())
        return;  // an output handed in by a test
    const int language = language_();
    emit said(name_ == QLatin1String("-") ? LanguageTable(Text::KeystrokesNone, language)
                                          : LanguageTable(Text::KeystrokesVia, language) + name_);
    for (const auto& im : inputMethods_) {
        emit said(
            LanguageTable(im->passableWith(*keyboard_) ? Text::InputMethodPassed : Text::InputMethodOnlyOff, language)
                .arg(im->name()));
    }
    for (const QString& im : unknownInputMethods_)
        emit said(LanguageTable(Text::InputMethodUnknown, language).arg(im));
    QPointer<CardTypist> self(this);
    keyboard_->start(restoreToken.toStdString(), [self](KeyboardOutput::Notice notice, const std::string& detail) {
        if (self)
            self->onNotice(notice, detail);
    });
}

void CardTypist::onNotice(KeyboardOutput::Notice notice, const std::string& detail)
{
    const int language = language_();
    switch (notice) {
    case KeyboardOutput::Notice::RestoreToken: emit restoreTokenChanged(QString::fromStdString(detail)); break;
    case KeyboardOutput::Notice::Refused: emit said(LanguageTable(Text::KeystrokesRefused, language)); break;
    case KeyboardOutput::Notice::Unavailable: emit said(LanguageTable(Text::KeystrokesNoPortal, language)); break;
    case KeyboardOutput::Notice::AsksEachStart: emit said(LanguageTable(Text::KeystrokesAskEachStart, language)); break;
    case KeyboardOutput::Notice::NotTyped:
        emit said(LanguageTable(Text::KeystrokesCardCut, language).arg(QString::fromStdString(detail)));
        break;
    }
}

void CardTypist::appEventsIdle()
{
    const KeyboardOutput::WindowId window = keyboard_->foregroundWindow();
    if (window != 0 && !keyboard_->isOwnWindow(window))
        TargetWindow = window;
}

void CardTypist::TypeText(const QByteArray& text, bool comma, bool enter)
{
    pendingCards_.append(PendingCard{text, comma, enter});
    typeWaitingCards();
}

void CardTypist::typeWaitingCards()
{
    while (!pendingCards_.isEmpty()) {
        // One card at a time: the one before is still going through an
        // input method, or waits for a word or for the focus.
        if (puttingBack_ > 0 || tmrWordWait_->isActive() || tmrFocusWait_->isActive())
            return;
        // Where keys go to the focused window, our own must give the focus
        // up first; the cards are typed once it has gone elsewhere.
        if (keyboard_->followsFocus() && QGuiApplication::applicationState() == Qt::ApplicationActive) {
            emit focusWanted();
            focusWaitClock_.start();
            tmrFocusWait_->start();
            return;
        }
        typeNow(pendingCards_.takeFirst());
    }
}

void CardTypist::focusWaitTick()
{
    if (QGuiApplication::applicationState() != Qt::ApplicationActive) {
        tmrFocusWait_->stop();
        typeWaitingCards();
    } else if (focusWaitClock_.elapsed() >= kFocusWaitMs) {
        tmrFocusWait_->stop();
        pendingCards_.clear();
        emit said(LanguageTable(Text::KeystrokesFocusKept, language_()));
    }
}

void CardTypist::typeNow(const PendingCard& card)
{
    // The input method of a window we bring forward may not know of its
    // focus yet.
    const bool focusJustMoved = !inputMethods_.empty() && keyboard_->foregroundWindow() != TargetWindow;
    const TypeResult result = typeCard(
        *keyboard_, TargetWindow, card.text.toStdString(), card.comma, card.enter,
        [](const std::string& utf8) { QGuiApplication::clipboard()->setText(QString::fromStdString(utf8)); },
        [this, focusJustMoved] { return letInputMethodsThrough(focusJustMoved); });
    if (result == TypeResult::Composing) {
        // The card goes in once the word is done, never into it.
        if (!wordWaitClock_.isValid()) {
            wordWaitClock_.start();
            emit said(LanguageTable(Text::InputMethodComposing, language_())
                          .arg(holdingIm_->name(), QString::fromUtf8(card.text)));
        }
        if (wordWaitClock_.elapsed() < kWordWaitMs) {
            pendingCards_.prepend(card);
            tmrWordWait_->start();
            return;
        }
    }
    wordWaitClock_.invalidate();
    putInputMethodsBack(card, result == TypeResult::Typed);
    say(result, card.text);
    // A compositor or portal that went away would otherwise leave every
    // later card untyped without a word.
    if (typingWorks_ != keyboard_->available()) {
        typingWorks_ = !typingWorks_;
        emit said(LanguageTable(typingWorks_ ? Text::KeystrokesBack : Text::KeystrokesLost, language_()));
    }
}

TypeResult CardTypist::letInputMethodsThrough(bool focusJustMoved)
{
    switched_.clear();
    for (const auto& im : inputMethods_) {
        if (im->composing()) {
            holdingIm_ = im.get();
            return TypeResult::Composing;
        }
    }
    for (const auto& im : inputMethods_) {
        switch (im->letThrough(*keyboard_, focusJustMoved)) {
        case InputMethod::Pass::Switched: switched_.push_back(im.get()); break;
        case InputMethod::Pass::Direct: break;
        case InputMethod::Pass::Failed: holdingIm_ = im.get(); return TypeResult::InputMethodStuck;
        }
    }
    return TypeResult::Typed;
}

void CardTypist::putInputMethodsBack(const PendingCard& card, bool keysSent)
{
    const std::vector<InputMethod*> switched = std::exchange(switched_, {});
    if (!keysSent) {
        for (InputMethod* im : switched)
            im->putBackNow();
        return;
    }
    // An input method's own switch key goes right behind the card, so that
    // it comes back on only after the card's last key.
    for (InputMethod* im : switched) {
        const std::optional<Shortcut> key = im->closingKey();
        if (key && keyboard_->sendShortcut(*key) != KeySender::Sent::All)
            im->putBackNow();
    }
    const auto keys = keysyms::forCard(card.text.toStdString(), card.comma, card.enter);
    puttingBack_ = int(switched.size());
    for (InputMethod* im : switched) {
        im->putBack(keys, [this, im](bool restored) {
            if (!restored)
                emit said(LanguageTable(Text::InputMethodNotBack, language_()).arg(im->name()));
            if (--puttingBack_ == 0)
                QTimer::singleShot(0, this, &CardTypist::typeWaitingCards);
        });
    }
}

void CardTypist::say(TypeResult result, const QByteArray& card)
{
    const QString number = QString::fromUtf8(card);
    Text why;
    switch (result) {
    case TypeResult::NoTarget: why = Text::KeystrokesNoTarget; break;
    case TypeResult::TargetGone: why = Text::KeystrokesTargetGone; break;
    case TypeResult::NoFocus: why = Text::KeystrokesNoFocus; break;
    case TypeResult::TargetElevated: why = Text::KeystrokesTargetElevated; break;
    case TypeResult::Incomplete: why = Text::KeystrokesCardCut; break;
    case TypeResult::Composing:
        emit said(LanguageTable(Text::InputMethodWordKept, language_()).arg(holdingIm_->name(), number));
        return;
    case TypeResult::InputMethodStuck:
        emit said(LanguageTable(Text::InputMethodStuck, language_()).arg(holdingIm_->name(), number));
        return;
    default: return;  // typed, or said already
    }
    emit said(LanguageTable(why, language_()).arg(number));
}
