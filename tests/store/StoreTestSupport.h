#pragma once

#include "common/TestEnv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>

// Helpers for tests that put a calendar store under the isolated $XDG_DATA_HOME.
namespace storetest {

inline QString storeRoot() {
    return testenv::dataHome() + QStringLiteral("/iCal");
}

inline void removeStore() {
    QDir(storeRoot()).removeRecursively();
}

// Replaces the store with a copy of tests/data/store/<name>/iCal.
inline bool installStore(const QString& name) {
    removeStore();
    const QString from =
        QStringLiteral(QUILLO_TEST_DATA "/store/") + name + QStringLiteral("/iCal");
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    bool any = false;
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = storeRoot() + source.mid(from.size());
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(source, target))
            return false;
        any = true;
    }
    return any;
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

} // namespace storetest
