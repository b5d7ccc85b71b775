#include "app/CardTypist.h"

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

}  // namespace

CardTypist::CardTypist(std::unique_ptr<KeyboardOutput> keyboard, const QString& name, std::function<int()> language,
                       QObject* parent)
    : QObject(parent), keyboard_(std::move(keyboard)), name_(name), language_(std::move(language))
{
    tmrFocusWait_ = new QTimer(this);
    tmrFocusWait_->setInterval(10);
    connect(tmrFocusWait_, &QTimer::timeout, this, &CardTypist::focusWaitTick);
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
    // The window may be half gone by now: nothing more is said to it. The
    // notifier goes before the output whose descriptor it watches.
    blockSignals(true);
    delete foregroundWatch_;
    keyboard_.reset();
}

void CardTypist::start(const QString& restoreToken)
{
    typingWorks_ = keyboard_->available();
    if (name_.isEmpty())
        return;  // an output handed in by a test
    const int language = language_();
    emit said(name_ == QLatin1String("-") ? LanguageTable(Text::KeystrokesNone, language)
                                          : LanguageTable(Text::KeystrokesVia, language) + name_);
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
    case KeyboardOutput::Notice::RestoreToken:
        emit restoreTokenChanged(QString::fromStdString(detail));
        break;
    case KeyboardOutput::Notice::Refused:
        emit said(LanguageTable(Text::KeystrokesRefused, language));
        break;
    case KeyboardOutput::Notice::Unavailable:
        emit said(LanguageTable(Text::KeystrokesNoPortal, language));
        break;
    case KeyboardOutput::Notice::AsksEachStart:
        emit said(LanguageTable(Text::KeystrokesAskEachStart, language));
        break;
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
    const PendingCard card{text, comma, enter};
    // Where keys go to the focused window, our own must give the focus up
    // first; the card is typed once it has gone elsewhere.
    if (keyboard_->followsFocus() &&
        (QGuiApplication::applicationState() == Qt::ApplicationActive || !pendingCards_.isEmpty())) {
        pendingCards_.append(card);
        if (!tmrFocusWait_->isActive()) {
            emit focusWanted();
            focusWaitClock_.start();
            tmrFocusWait_->start();
        }
        return;
    }
    typeNow(card);
}

void CardTypist::focusWaitTick()
{
    if (QGuiApplication::applicationState() != Qt::ApplicationActive) {
        tmrFocusWait_->stop();
        const QList<PendingCard> cards = std::move(pendingCards_);
        pendingCards_.clear();
        for (const PendingCard& card : cards)
            typeNow(card);
    } else if (focusWaitClock_.elapsed() >= kFocusWaitMs) {
        tmrFocusWait_->stop();
        pendingCards_.clear();
        emit said(LanguageTable(Text::KeystrokesFocusKept, language_()));
    }
}

void CardTypist::typeNow(const PendingCard& card)
{
    const TypeResult result = typeCard(*keyboard_, TargetWindow, card.text.toStdString(), card.comma, card.enter,
                                       [](const std::string& utf8) {
                                           QGuiApplication::clipboard()->setText(QString::fromStdString(utf8));
                                       });
    say(result, card.text);
    // A compositor or portal that went away would otherwise leave every
    // later card untyped without a word.
    if (typingWorks_ != keyboard_->available()) {
        typingWorks_ = !typingWorks_;
        emit said(LanguageTable(typingWorks_ ? Text::KeystrokesBack : Text::KeystrokesLost, language_()));
    }
}

void CardTypist::say(TypeResult result, const QByteArray& card)
{
    Text why;
    switch (result) {
    case TypeResult::NoTarget: why = Text::KeystrokesNoTarget; break;
    case TypeResult::TargetGone: why = Text::KeystrokesTargetGone; break;
    case TypeResult::NoFocus: why = Text::KeystrokesNoFocus; break;
    case TypeResult::TargetElevated: why = Text::KeystrokesTargetElevated; break;
    case TypeResult::Incomplete: why = Text::KeystrokesCardCut; break;
    default: return;  // typed, or said already
    }
    emit said(LanguageTable(why, language_()).arg(QString::fromUtf8(card)));
}
