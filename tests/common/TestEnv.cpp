#include "common/TestEnv.h"

#include "platform/Log.h"

#include <QDir>
#include <QProcess>

#include <QFile>

#include <cstdlib>
#include <ctime>
#include <memory>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace testenv {
namespace {

std::unique_ptr<QTemporaryDir>& tree() {
    static std::unique_ptr<QTemporaryDir> t;
    return t;
}

void setEnv(const char* name, const QString& value) {
    qputenv(name, QFile::encodeName(value));
}

} // namespace

void isolateHome() {
    if (tree())
        return;
    tree() =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quillo-test-XXXXXX"));
    if (!tree()->isValid())
        std::abort();
    const QString root = tree()->path();
    for (const char* sub : {"home", "home/.local/share", "home/.config", "home/.cache"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    setEnv("HOME", root + QStringLiteral("/home"));
    setEnv("XDG_DATA_HOME", dataHome());
    setEnv("XDG_CONFIG_HOME", configHome());
    setEnv("XDG_CACHE_HOME", root + QStringLiteral("/home/.cache"));
    if (qEnvironmentVariableIsEmpty("TZ"))
        setTimeZone("Europe/Berlin");
}

QString home() {
    return tree()->path() + QStringLiteral("/home");
}

QString dataHome() {
    return home() + QStringLiteral("/.local/share");
}

QString configHome() {
    return home() + QStringLiteral("/.config");
}

void setTimeZone(const QByteArray& tz) {
    qputenv("TZ", tz);
    tzset();
}

ProgramRun runProgram(const QString& program, const QStringList& args, const QByteArray& input,
                      const QString& folder) {
    QProcess p;
    if (!folder.isEmpty())
        p.setWorkingDirectory(folder);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return {};
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    ProgramRun run;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}

LogRecorder::LogRecorder() {
    platform::setLogCapture([this](const QString& line) {
        std::lock_guard lock(m_mutex);
        m_lines.append(line);
    });
}

LogRecorder::~LogRecorder() {
    platform::setLogCapture({});
}

QStringList LogRecorder::lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool LogRecorder::contains(const QString& line) const {
    std::lock_guard lock(m_mutex);
    return m_lines.contains(line);
}

void LogRecorder::clear() {
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

bool setImmutable(const QString& folder, bool on) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

} // namespace testenv
