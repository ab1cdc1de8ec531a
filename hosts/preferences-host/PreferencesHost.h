#pragma once

#include "platform/NSPreferencePane.h"
#include "platform/PlugIn.h"

#include <QObject>
#include <QString>
#include <QWidget>

#include <memory>

// Shows one settings pane in a window of its own. The pane's bundle is loaded as a
// plug-in; its principal object is created, its view loaded (which calls
// mainViewDidLoad) and placed in a window titled with the bundle's name. On the session
// bus the host answers Raise for its pane, so a second start for the same pane brings
// this window to the front instead of opening another.
class PreferencesHost : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillo.PreferencesHost")
public:
    PreferencesHost();
    ~PreferencesHost() override;

    // Loads the pane; false with the reason when the bundle is no settings pane or has
    // no interface.
    bool load(const QString& panePath, QString* why);
    QWidget* window() const { return m_window.get(); }

    // The bus name of the host of a pane: one per bundle folder, whatever path led to it.
    static QString serviceNameForPane(const QString& panePath);
    // The title of the pane's window: the bundle's name.
    static QString windowTitleForBundle(const platform::Bundle& bundle);

public slots:
    // Brings the window to the front.
    Q_SCRIPTABLE void Raise();
    // The window's title; empty before the pane is shown.
    Q_SCRIPTABLE QString WindowTitle() const;

private:
    std::unique_ptr<QWidget> m_window;
    // Declared after the window: destroyed first, so the pane takes its view out of the
    // window and is gone before its library is unloaded.
    std::unique_ptr<platform::LoadedPrincipal<platform::NSPreferencePane>> m_pane;
};
