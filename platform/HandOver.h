#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace platform {

// Hands work to one thread's event loop and waits until it has run there.
//
// The hand-over is built on the standard library's mutex and condition variable
// rather than on a blocking queued connection, so that thread checkers see every
// hand-over as the synchronisation it is. Whatever the work writes is visible to the
// waiting thread when runAndWait returns.
//
// The rule for all work handed over: it must never wait for the thread that handed it
// over, which is blocked until the work returns.
class HandOverQueue : public QObject {
    Q_OBJECT

public:
    // The queue lives on, and runs its work on, `thread`.
    explicit HandOverQueue(QThread* thread);
    ~HandOverQueue() override;

    // Runs work on the queue's thread and waits; on that thread itself it runs at once.
    // False when the work could not run because the queue was closed first.
    bool runAndWait(const std::function<void()>& work);

    // Refuses all further work and releases every thread still waiting, unrun. For the
    // moment the queue's thread stops turning its event loop for good.
    void close();

private:
    Q_INVOKABLE void drain();

    struct Request {
        std::function<void()> work;
        bool finished = false;
        bool ran = false;
    };
    std::mutex m_mutex;
    std::condition_variable m_finished;
    std::deque<std::shared_ptr<Request>> m_requests;
    bool m_closed = false;
};

// Runs work on the main thread (the application object's) and waits; at once when
// called on the main thread. False when it cannot run: there is no application
// object, or it went away before the work ran.
bool runOnMainThreadAndWait(const std::function<void()>& work);

} // namespace platform
