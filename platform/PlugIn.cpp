#include "platform/PlugIn.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace platform {

std::optional<QString> executablePathOfBundle(const Bundle& bundle) {
    const std::optional<QVariant> name =
        bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleExecutable"));
    if (!name || name->typeId() != QMetaType::QString)
        return std::nullopt;
    const QString file = name->toString();
    if (file.isEmpty() || file.contains(QLatin1Char('/')) || file == QStringLiteral("..") ||
        file == QStringLiteral("."))
        return std::nullopt;
    return bundle.bundlePath() + QStringLiteral("/Contents/Linux/") + file;
}

std::unique_ptr<PlugIn> PlugIn::loadBundle(const QString& path, QString* why) {
    const auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return nullptr;
    };
    std::shared_ptr<const Bundle> bundle = Bundle::bundleWithPath(path);
    if (!bundle)
        return fail(QStringLiteral("there is no bundle folder"));
    if (bundle->infoDictionary().isEmpty())
        return fail(QStringLiteral("it has no readable Contents/Info.plist"));
    const std::optional<QString> executable = executablePathOfBundle(*bundle);
    if (!executable)
        return fail(QStringLiteral("its Info.plist names no CFBundleExecutable"));
    const std::optional<QVariant> principal =
        bundle->objectForInfoDictionaryKey(QStringLiteral("NSPrincipalClass"));
    if (!principal || principal->typeId() != QMetaType::QString || principal->toString().isEmpty())
        return fail(QStringLiteral("its Info.plist names no NSPrincipalClass"));
    if (!QFileInfo(*executable).isFile())
        return fail(QStringLiteral("its executable %1 is missing").arg(*executable));

    // Local symbols: two plug-ins may define the same names without meeting.
    void* handle = dlopen(QFile::encodeName(*executable).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return fail(QStringLiteral("its executable cannot be loaded (%1)")
                        .arg(QString::fromLocal8Bit(dlerror())));
    void* entry = dlsym(handle, QuilloPlugInEntryPoint);
    if (!entry) {
        dlclose(handle);
        return fail(QStringLiteral("its executable does not export %1")
                        .arg(QLatin1String(QuilloPlugInEntryPoint)));
    }
    std::unique_ptr<PlugIn> plugIn(new PlugIn);
    plugIn->m_bundle = std::move(bundle);
    plugIn->m_principalClass = principal->toString();
    plugIn->m_libraryPath = *executable;
    plugIn->m_handle = handle;
    plugIn->m_create = reinterpret_cast<QuilloPlugInCreateFunction*>(entry);
    return plugIn;
}

PlugIn::~PlugIn() {
    if (m_handle)
        dlclose(m_handle);
}

void* PlugIn::createPrincipalObject(const char* baseClass) const {
    const QByteArray principal = m_principalClass.toUtf8();
    return m_create(baseClass, principal.constData(), &m_bundle);
}

bool PlugIn::isLibraryLoaded(const QString& libraryPath) {
    void* handle = dlopen(QFile::encodeName(libraryPath).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle);
    return true;
}

} // namespace platform
