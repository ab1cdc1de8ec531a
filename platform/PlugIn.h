#pragma once

// Bundles as plug-ins. A plug-in bundle's executable, named by "CFBundleExecutable" in
// its Info.plist, is a shared library in the bundle's Contents/Linux folder. It exports
// one C entry point, QuilloPlugInCreate, that creates the bundle's principal class (named
// by "NSPrincipalClass") with the bundle. Hosts never link a plug-in: they load it by
// path, ask it for its principal object as one of the platform's base classes
// (NSMenuExtra, NSPreferencePane) and talk to it only through that base.

#include "platform/Bundle.h"

#include <QString>

#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>

namespace platform {

// The entry point's signature: the base class the host wants ("NSMenuExtra"), the
// principal class the bundle's Info.plist names, and the bundle (a
// std::shared_ptr<const Bundle>*). The result points to the new object as that base
// class, owned by the caller; null when the plug-in's principal class is another one,
// does not derive from that base, or declined to initialise.
extern "C" {
using QuilloPlugInCreateFunction = void*(const char* baseClass, const char* principalClass,
                                         const void* bundle);
}
inline constexpr char QuilloPlugInEntryPoint[] = "QuilloPlugInCreate";

// The bundle's executable: Contents/Linux/<CFBundleExecutable>; nothing when the
// Info.plist names none or names a path that would leave the folder.
std::optional<QString> executablePathOfBundle(const Bundle& bundle);

// One loaded plug-in library. Destroying it unloads the library, so every object the
// library made must be destroyed first (LoadedPrincipal takes care of the order).
class PlugIn {
public:
    // Loads the executable of the bundle at the path. Null, with the reason in *why,
    // when the path is no bundle, names no executable or principal class, or the
    // library cannot be loaded or lacks the entry point.
    static std::unique_ptr<PlugIn> loadBundle(const QString& path, QString* why);
    ~PlugIn();
    PlugIn(const PlugIn&) = delete;
    PlugIn& operator=(const PlugIn&) = delete;

    const std::shared_ptr<const Bundle>& bundle() const { return m_bundle; }
    QString principalClass() const { return m_principalClass; }
    QString libraryPath() const { return m_libraryPath; }

    // The principal object as the base class named; null when the plug-in has none of
    // that base (see QuilloPlugInCreateFunction). The caller owns the result.
    void* createPrincipalObject(const char* baseClass) const;

    // Whether a library file is mapped into this process (for tests of unloading).
    static bool isLibraryLoaded(const QString& libraryPath);

private:
    PlugIn() = default;
    std::shared_ptr<const Bundle> m_bundle;
    QString m_principalClass;
    QString m_libraryPath;
    void* m_handle = nullptr;
    QuilloPlugInCreateFunction* m_create = nullptr;
};

// A plug-in with its principal object as Base: the object is destroyed before the
// library is unloaded.
template <class Base> class LoadedPrincipal {
public:
    // baseClass is Base's name as plug-ins know it ("NSMenuExtra").
    static std::unique_ptr<LoadedPrincipal> load(const QString& path, const char* baseClass,
                                                 QString* why) {
        std::unique_ptr<PlugIn> plugIn = PlugIn::loadBundle(path, why);
        if (!plugIn)
            return nullptr;
        auto* object = static_cast<Base*>(plugIn->createPrincipalObject(baseClass));
        if (!object) {
            if (why)
                *why = QStringLiteral("its principal class %1 is not a %2 or failed to initialise")
                           .arg(plugIn->principalClass(), QString::fromLatin1(baseClass));
            return nullptr;
        }
        return std::unique_ptr<LoadedPrincipal>(
            new LoadedPrincipal(std::move(plugIn), std::unique_ptr<Base>(object)));
    }

    ~LoadedPrincipal() { m_object.reset(); } // before m_plugIn unloads the code
    LoadedPrincipal(const LoadedPrincipal&) = delete;
    LoadedPrincipal& operator=(const LoadedPrincipal&) = delete;

    Base* object() const { return m_object.get(); }
    const PlugIn& plugIn() const { return *m_plugIn; }

private:
    LoadedPrincipal(std::unique_ptr<PlugIn> plugIn, std::unique_ptr<Base> object)
        : m_plugIn(std::move(plugIn)), m_object(std::move(object)) {}
    std::unique_ptr<PlugIn> m_plugIn;
    std::unique_ptr<Base> m_object;
};

} // namespace platform

// Put once into a plug-in's sources: exports the entry point that creates Class (whose
// static initWithBundle(std::shared_ptr<const platform::Bundle>) gives a
// std::unique_ptr<Class>, empty when it fails) as its base class platform::Base.
#define QUILLO_PLUGIN_PRINCIPAL_CLASS(Base, Class)                                                 \
    extern "C" __attribute__((visibility("default"))) void* QuilloPlugInCreate(                    \
        const char* baseClass, const char* principalClass, const void* bundle) {                   \
        if (!baseClass || !principalClass || !bundle ||                                            \
            std::string_view(baseClass) != std::string_view(#Base) ||                              \
            std::string_view(principalClass) != std::string_view(#Class))                          \
            return nullptr;                                                                        \
        auto object = Class::initWithBundle(                                                       \
            *static_cast<const std::shared_ptr<const platform::Bundle>*>(bundle));                 \
        return static_cast<platform::Base*>(object.release());                                     \
    }                                                                                              \
    static_assert(std::is_base_of_v<platform::Base, Class>, #Class " must derive from " #Base)
