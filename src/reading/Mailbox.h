// Calls handed to the thread of an object, as a queued connection hands
// them, in the order they were posted. The reader worker and the window talk
// through one each.
//
// Qt guards its event queues with locks that ThreadSanitizer cannot see (Qt
// itself is not built with it), so each call also tells it, by hand, that
// posting happens before running; without that every queued call would be
// reported as a race.
#pragma once

#include <QEvent>
#include <QObject>
#include <functional>

// Tells ThreadSanitizer that what one thread did before tsanRelease(p)
// happens before what another thread does after tsanAcquire(p): for hand-overs
// through Qt's own locks. Nothing in other builds.
void tsanRelease(void* p);
void tsanAcquire(void* p);

class Mailbox : public QObject {
public:
    using QObject::QObject;
    // Runs `call` on the mailbox's thread, after every call posted before it.
    // Safe from any thread.
    void post(std::function<void()> call);

protected:
    bool event(QEvent* event) override;
};
