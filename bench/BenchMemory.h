#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The peak resident memory (VmHWM) of a process from its status file, in megabytes;
// 0 when it cannot be read.
inline double peakMegabytesOf(const QString& statusPath) {
    QFile status(statusPath);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}
