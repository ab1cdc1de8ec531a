#pragma once

#include "platform/Bundle.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace platform {

// The base class of a settings pane: a plug-in that the preferences host loads from its
// bundle and shows in a window of its own. Main thread only.
//
// The host calls loadMainView() once and places the view in its window; the pane
// keeps owning the view (and deletes it when the pane goes, unless the host's window
// took it along first), so the host destroys the pane before its window.
class NSPreferencePane {
public:
    explicit NSPreferencePane(std::shared_ptr<const Bundle> bundle);
    virtual ~NSPreferencePane();
    NSPreferencePane(const NSPreferencePane&) = delete;
    NSPreferencePane& operator=(const NSPreferencePane&) = delete;

    const std::shared_ptr<const Bundle>& bundle() const { return m_bundle; }

    // The pane's content; null until loaded.
    QWidget* mainView() const { return m_mainView; }

    // Creates the view on the first call and then calls mainViewDidLoad(); later calls
    // return the same view. Null when the pane has no interface.
    QWidget* loadMainView();

    // Called once, right after the view was created.
    virtual void mainViewDidLoad() {}

protected:
    // Builds the pane's interface (from its form). The pane owns the result.
    virtual std::unique_ptr<QWidget> createMainView() = 0;

private:
    std::shared_ptr<const Bundle> m_bundle;
    QPointer<QWidget> m_mainView;
    bool m_loaded = false;
};

} // namespace platform
