#include "menuextra/QLMenuExtra.h"

#include "menuextra/store/QL_CalendarStore.h"

#include "menuextra/watch/ZVFileWatcher.h"

QLMenuExtra::QLMenuExtra() {
    replaceQueue();
}

QLMenuExtra::~QLMenuExtra() {
    // Dropping the queue withdraws this object as its delegate before it goes.
    m_theQueue.reset();
}

void QLMenuExtra::replaceQueue() {
    // Release the old queue first: its thread stops and nothing more reaches us from it.
    m_theQueue.reset();
    m_theQueue = ZVKQueue::create();
    if (!m_theQueue)
        return;
    m_theQueue->addPath(ql::nodesPath());
    m_theQueue->setDelegate(this);
}

void QLMenuExtra::watcherReceivedNotificationForPath(ZVFileWatcher*, const QString& name,
                                                     const QString&) {
    if (name == ZVKQueueFileDeletedNotification)
        refreshMenu();
}

void QLMenuExtra::refreshMenu() {
    ++m_refreshCount;
    if (!loadiCalCalendars() || !m_theCalendars)
        return;
    for (auto& [title, calendar] : *m_theCalendars)
        (void)calendar->parseForToDos();
}

QString QLMenuExtra::applicationSupportFolder() {
    return ql::applicationSupportFolder();
}

QColor QLMenuExtra::colorFromRGBAHex(const QString& text) {
    return ql::colorFromRGBAHex(text);
}
