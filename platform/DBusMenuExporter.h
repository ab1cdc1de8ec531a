#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QAction;
class QDBusConnection;
class QMenu;

namespace platform {

// A Qt menu exported on a D-Bus connection as com.canonical.dbusmenu, for a desktop that
// draws the menu itself (a StatusNotifierItem host). Titles are in Qt's markup with
// underscores already doubled (ExportedMenu::Markup::DBusMenu): the first "&" marks the
// shortcut letter, "&&" is a literal one. The menu is read when a host asks; after it
// was built again, menuRebuilt() gives its entries new numbers and tells the hosts, so a
// choice from an older layout does nothing. Main thread only.
class DBusMenuExporter : public QObject {
    Q_OBJECT
public:
    // Registers the menu at the path; the menu must outlive the exporter.
    DBusMenuExporter(QMenu& menu, const QDBusConnection& bus, const QString& path,
                     QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    const QString& path() const { return m_path; }
    bool isExported() const { return m_exported; }
    unsigned revision() const { return m_revision; }

    // The menu's entries were replaced: new numbers, a new revision, LayoutUpdated.
    void menuRebuilt();

    // The pixels per device-independent pixel of the entries' icons (16 of those);
    // the application's ratio unless set.
    void setDevicePixelRatio(qreal ratio) { m_ratio = ratio; }
    qreal devicePixelRatio() const;

    // For the adaptor: the entry of a number (0 the menu itself), its properties.
    QAction* actionOf(int id) const;
    int idOf(QAction* action);
    QVariantMap properties(QAction* action, const QStringList& names);
    QMenu& menu() { return m_menu; }
    // A host is about to show the menu (AboutToShow on it, or "opened" without one):
    // true when the layout changed meanwhile.
    bool prepareToShow();
    void entryEvent(int id, const QString& event);

signals:
    // A host is about to show the menu: build it now.
    void aboutToShow();
    // For the adaptor.
    void layoutUpdated(unsigned revision, int parent);

private:
    QByteArray iconData(const QIcon& icon);

    QMenu& m_menu;
    QString m_path;
    QString m_connectionName;
    bool m_exported = false;
    unsigned m_revision = 1;
    int m_nextId = 1;
    bool m_askedBeforeOpen = false;
    qreal m_ratio = 0;
    QHash<int, QPointer<QAction>> m_actions;
    QHash<QAction*, int> m_ids;
    // PNG of an icon by its cache key and pixel size: the icons are shared by many
    // entries and hardly change between builds.
    QHash<QPair<qint64, int>, QByteArray> m_iconData;
};

} // namespace platform
