// A small menu extra for the tests of plug-in loading and of the menu-bar server. Its
// menu counts the requests ("Menu 3") and lists the lines of the file named by the
// bundle's "TestMenuFile" in $XDG_CONFIG_HOME (a stand-in for a store that changes from outside).
// Its picture follows that file too: "TestImageFile" names a file holding an image name.
// "TestFailsToInitialise" makes creation fail like a base class that yields nothing.
#include "platform/NSMenuExtra.h"
#include "platform/PlugIn.h"

#include <QFile>
#include <QStandardPaths>

namespace {

QString readFile(const std::shared_ptr<const platform::Bundle>& bundle, const char* key) {
    const auto name = bundle->objectForInfoDictionaryKey(QString::fromLatin1(key));
    if (!name)
        return QString();
    QFile file(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QLatin1Char('/') + name->toString());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

} // namespace

class TestMenuExtra : public platform::NSMenuExtra {
public:
    static std::unique_ptr<TestMenuExtra>
    initWithBundle(std::shared_ptr<const platform::Bundle> bundle) {
        if (bundle->objectForInfoDictionaryKey(QStringLiteral("TestFailsToInitialise")))
            return nullptr;
        return std::unique_ptr<TestMenuExtra>(new TestMenuExtra(std::move(bundle)));
    }

    platform::NSMenu* menu() override {
        ++m_requests;
        updateImage();
        m_menu.removeAllItems();
        m_menu.addItem(std::make_shared<platform::NSMenuItem>(
            QStringLiteral("Menu %1").arg(m_requests), platform::NSAction(), QString()));
        const QString lines = readFile(bundle(), "TestMenuFile");
        for (const QString& line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            m_menu.addItem(
                std::make_shared<platform::NSMenuItem>(line, platform::NSAction(), QString()));
        return &m_menu;
    }

private:
    explicit TestMenuExtra(std::shared_ptr<const platform::Bundle> bundle)
        : NSMenuExtra(std::move(bundle)) {
        updateImage();
    }

    void updateImage() {
        QString name = readFile(bundle(), "TestImageFile");
        if (name.isEmpty())
            name = QStringLiteral("testIcon");
        const std::optional<QString> path = bundle()->pathForImageResource(name);
        if (path && (!image() || image()->path() != *path)) {
            setImage(platform::NSImage::imageWithContentsOfFile(*path));
            setAlternateImage(platform::NSImage::imageWithContentsOfFile(
                bundle()->pathForImageResource(name + QStringLiteral("Open")).value_or(*path)));
        }
    }

    platform::NSMenu m_menu{QString()};
    int m_requests = 0;
};

QUILLO_PLUGIN_PRINCIPAL_CLASS(NSMenuExtra, TestMenuExtra);
