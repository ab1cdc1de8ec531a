#include "PreferencesHost.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QShortcut>
#include <QVBoxLayout>

PreferencesHost::PreferencesHost() = default;

PreferencesHost::~PreferencesHost() {
    m_pane.reset();
    m_window.reset();
}

QString PreferencesHost::serviceNameForPane(const QString& panePath) {
    const QFileInfo info(panePath);
    const QString canonical =
        info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("org.quillo.PreferencesHost.pane_") + QString::fromLatin1(hash);
}

QString PreferencesHost::windowTitleForBundle(const platform::Bundle& bundle) {
    const std::optional<QVariant> name =
        bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleName"));
    if (name && name->typeId() == QMetaType::QString && !name->toString().isEmpty())
        return name->toString();
    return QFileInfo(QDir::cleanPath(bundle.bundlePath())).completeBaseName();
}

bool PreferencesHost::load(const QString& panePath, QString* why) {
    m_pane = platform::LoadedPrincipal<platform::NSPreferencePane>::load(panePath,
                                                                         "NSPreferencePane", why);
    if (!m_pane)
        return false;
    platform::NSPreferencePane* pane = m_pane->object();
    m_window = std::make_unique<QWidget>();
    m_window->setWindowTitle(windowTitleForBundle(*pane->bundle()));
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    QWidget* view = pane->loadMainView();
    if (!view) {
        if (why)
            *why = QStringLiteral("it has no interface");
        m_pane.reset();
        m_window.reset();
        return false;
    }
    layout->addWidget(view);
    // Closed from the keyboard like any settings window.
    auto* close = new QShortcut(QKeySequence::Close, m_window.get());
    connect(close, &QShortcut::activated, m_window.get(), &QWidget::close);
    m_window->show();
    return true;
}

void PreferencesHost::Raise() {
    if (!m_window)
        return;
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

QString PreferencesHost::WindowTitle() const {
    return m_window ? m_window->windowTitle() : QString();
}
