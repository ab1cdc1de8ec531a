// Prints the to-do menu of the user's calendar store as text (the menu dump), as the
// tray will show it: built by the menu extra from the store, the settings and the texts.
#include "menuextra/QLMenuExtra.h"
#include "platform/Bundle.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    // Fonts need a GUI application, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);

    QLMenuExtra menuExtra(platform::Bundle::bundleWithPath(QStringLiteral(QUILLO_MENU_BUNDLE_DIR)));
    // Not installed yet: the texts come from the pane the build laid out.
    if (!menuExtra.theBundle())
        menuExtra.setTheBundle(QStringLiteral(QUILLO_PREFPANE_BUNDLE_DIR));
    menuExtra.loadMenuIcons();
    const platform::NSMenu* menu = menuExtra.menu();

    const auto name = [](const platform::NSImagePtr& image) {
        return image ? image->name() : QStringLiteral("(none)");
    };
    out << "Menu-bar icon: " << name(menuExtra.image()) << ", while open "
        << name(menuExtra.alternateImage()) << "\n\n"
        << platform::dumpMenu(*menu);
    return 0;
}
