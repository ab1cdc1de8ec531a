#include "platform/HandOver.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <vector>

namespace platform {

HandOverQueue::HandOverQueue(QThread* thread) {
    moveToThread(thread);
}

HandOverQueue::~HandOverQueue() {
    close();
}

bool HandOverQueue::runAndWait(const std::function<void()>& work) {
    if (QThread::currentThread() == thread()) {
        work();
        return true;
    }
    auto request = std::make_shared<Request>();
    request->work = work;
    std::unique_lock lock(m_mutex);
    if (m_closed)
        return false;
    m_requests.push_back(request);
    lock.unlock();
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
    lock.lock();
    m_finished.wait(lock, [&] { return request->finished; });
    return request->ran;
}

void HandOverQueue::close() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    for (const auto& request : m_requests)
        request->finished = true;
    m_requests.clear();
    m_finished.notify_all();
}

void HandOverQueue::drain() {
    for (;;) {
        std::shared_ptr<Request> request;
        {
            std::lock_guard lock(m_mutex);
            if (m_requests.empty())
                return;
            request = m_requests.front();
            m_requests.pop_front();
        }
        request->work();
        std::lock_guard lock(m_mutex);
        request->ran = true;
        request->finished = true;
        m_finished.notify_all();
    }
}

namespace {

std::mutex s_mainMutex;
HandOverQueue* s_mainQueue = nullptr;
QCoreApplication* s_mainQueueApp = nullptr;

HandOverQueue* mainQueue(QCoreApplication* app) {
    if (s_mainQueueApp != app) {
        s_mainQueue = new HandOverQueue(app->thread());
        // Closed queues stay allocated (and listed): a thread may still be returning from one.
        static auto* all = new std::vector<HandOverQueue*>;
        all->push_back(s_mainQueue);
        s_mainQueueApp = app;
        qAddPostRoutine([] {
            std::lock_guard lock(s_mainMutex);
            if (s_mainQueue)
                s_mainQueue->close();
            s_mainQueue = nullptr;
            s_mainQueueApp = nullptr;
        });
    }
    return s_mainQueue;
}

// Made on the main thread as the application object starts, so that it is fully built
// before any other thread hands work over.
void makeMainQueue() {
    std::lock_guard lock(s_mainMutex);
    mainQueue(QCoreApplication::instance());
}
Q_COREAPP_STARTUP_FUNCTION(makeMainQueue)

} // namespace

bool runOnMainThreadAndWait(const std::function<void()>& work) {
    HandOverQueue* queue = nullptr;
    {
        std::lock_guard lock(s_mainMutex);
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return false;
        queue = mainQueue(app);
    }
    return queue->runAndWait(work);
}

} // namespace platform
