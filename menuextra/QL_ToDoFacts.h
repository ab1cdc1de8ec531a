#pragma once

#include "menuextra/store/QL_ToDo.h"

#include <QDateTime>

#include <memory>
#include <optional>

// What the menu asks of a to-do while it builds one item, each asked of the record at
// most once: every date fact converts local times, which costs a time-zone lookup.
class QL_ToDoFacts {
public:
    explicit QL_ToDoFacts(std::shared_ptr<QL_ToDo> toDo) : m_toDo(std::move(toDo)) {}

    const std::shared_ptr<QL_ToDo>& toDo() const { return m_toDo; }
    const QL_ToDo& operator*() const { return *m_toDo; }

    const std::optional<QDateTime>& due() const {
        if (!m_due)
            m_due = m_toDo->theDueDateAsDate();
        return *m_due;
    }
    bool isExpired() const {
        if (!m_expired)
            m_expired = m_toDo->isExpired();
        return *m_expired;
    }
    int daysDue() const {
        if (!m_daysDue)
            m_daysDue = m_toDo->daysDue();
        return *m_daysDue;
    }

private:
    std::shared_ptr<QL_ToDo> m_toDo;
    mutable std::optional<std::optional<QDateTime>> m_due;
    mutable std::optional<bool> m_expired;
    mutable std::optional<int> m_daysDue;
};
