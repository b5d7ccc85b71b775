// One running copy per user: a lock file marks the running copy, and a local
// socket lets a second start ask it to show its window.
#pragma once

#include <QLockFile>
#include <QObject>
#include <memory>

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `name` names the lock and the socket; both live in the user's runtime
    // folder, so that every user has a program of their own.
    explicit SingleInstance(const QString& name = QStringLiteral("Tallyport"), QObject* parent = nullptr);
    ~SingleInstance() override;

    enum Claim {
        First,      // this process is the running copy
        Running,    // another live copy holds the lock
        Unguarded,  // no lock could be made (see reason()); run all the same
    };
    // The lock is held until the process ends, so a copy started while the
    // first one is shutting down still sees it. A lock left by a copy that
    // died does not count, whatever process it names; one that a starting
    // copy holds counts before that copy has written it.
    Claim claim();
    // Why the last claim() was Unguarded.
    QString reason() const { return reason_; }

    // From a second copy: asks the running one to show itself. False when
    // it could not be reached (it may be on its way out). On Windows the
    // running copy is first allowed to take the foreground, which only the
    // process in front (this one, just started) may grant.
    bool askRunningToShow(int timeoutMs = 2000);
    // The process id of the running copy, as its lock names it; 0 when the
    // lock names none.
    qint64 runningCopyPid() const;

signals:
    // The running copy was asked by a second start to show its window.
    void showRequested();

private:
    // Our lock or socket in the runtime folder: `suffix` is ".lock" or ".socket".
    QString pathOf(const char* suffix) const { return folder_ + QLatin1Char('/') + name_ + QLatin1String(suffix); }

    QString name_;
    QString folder_;
    QString reason_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};
