#include "reading/ThreadsLeftBehind.h"

#include <QMutex>
#include <vector>

namespace {

QMutex mutex;
std::vector<QThread*> threads;

}  // namespace

void leaveBehind(QThread* thread)
{
    QMutexLocker lock(&mutex);
    threads.push_back(thread);
}

bool threadsLeftBehind()
{
    QMutexLocker lock(&mutex);
    return !threads.empty();
}
