// The main window as the tests reach it: its controls by their object
// names, the lines of its info log, the settings it saves, and the reader
// worker's polling flags.
#pragma once

#include "app/MainWindow.h"
#include "reading/ReaderWorker.h"
#include "settings/SettingsStore.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QStringList>

// The control of `frm` named `name`; the test ends when there is none.
template <typename T> T* control(const QObject& frm, const char* name)
{
    T* found = frm.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

inline QStringList logLines(const TfrmMain& frm)
{
    const QString text = control<QPlainTextEdit>(frm, "moInfo")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

// Picks `index` in the combo box `name` as the user does.
inline void choose(const TfrmMain& frm, const char* name, int index)
{
    auto* box = control<QComboBox>(frm, name);
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// The settings `frm` holds, as Minimized and Exit save them to `file`.
inline Settings savedSettings(TfrmMain& frm, const QString& file)
{
    frm.SaveSettings();
    return loadSettings(file).values;
}

// What the worker's polling cycle holds once it has done everything sent to
// it so far: read on its thread, handed over as a copy.
struct PollingFlags {
    bool connected = false;
    bool paused = false;
    bool closeRequested = false;
};

inline PollingFlags pollingFlags(const TfrmMain& frm)
{
    PollingFlags flags;
    ReaderWorker* worker = frm.worker();
    QMetaObject::invokeMethod(
        worker,
        [&flags, worker] {
            const PollingCycle& cycle = worker->cycle();
            flags = {cycle.ReaderConnected, cycle.PollingPaused, cycle.CloseRequested};
        },
        Qt::BlockingQueuedConnection);
    return flags;
}

// Polling from now on, as after a start-up that found the reader.
inline void startPolling(const TfrmMain& frm)
{
    QMetaObject::invokeMethod(frm.worker(), &ReaderWorker::startPolling, Qt::QueuedConnection);
}
