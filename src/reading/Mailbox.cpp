#include "reading/Mailbox.h"

#include <QCoreApplication>

#if defined(__SANITIZE_THREAD__)
#define TALLYPORT_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TALLYPORT_TSAN 1
#endif
#endif

#ifdef TALLYPORT_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
void tsanRelease(void* p)
{
    __tsan_release(p);
}
void tsanAcquire(void* p)
{
    __tsan_acquire(p);
}
#else
void tsanRelease(void*) { }
void tsanAcquire(void*) { }
#endif

namespace {

const QEvent::Type kCallType = static_cast<QEvent::Type>(QEvent::registerEventType());

class CallEvent : public QEvent {
public:
    explicit CallEvent(std::function<void()> call) : QEvent(kCallType), call(std::move(call)) { }
    std::function<void()> call;
};

}  // namespace

void Mailbox::post(std::function<void()> call)
{
    auto* event = new CallEvent(std::move(call));
    tsanRelease(event);
    QCoreApplication::postEvent(this, event);
}

bool Mailbox::event(QEvent* event)
{
    // Before anything of the event is read; for events of others it has no effect.
    tsanAcquire(event);
    if (event->type() != kCallType)
        return QObject::event(event);
    static_cast<CallEvent*>(event)->call();
    return true;
}
