#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace watchtest {

// One write(2) at the end of the file: exactly one change event.
inline void appendTo(const QString& path, const QByteArray& bytes = "line\n") {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd == -1)
        qFatal("cannot open %s", qPrintable(path));
    if (::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    ::close(fd);
}

// Open descriptors of this process whose target reads like `kind`, e.g. "inotify".
inline int openDescriptors(const char* kind) {
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& entry :
         fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[256] = {};
        const QByteArray link = QFile::encodeName(fds.filePath(entry));
        if (::readlink(link.constData(), target, sizeof target - 1) > 0 &&
            std::strstr(target, kind))
            ++count;
    }
    return count;
}

} // namespace watchtest
