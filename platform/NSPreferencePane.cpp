#include "platform/NSPreferencePane.h"

namespace platform {

NSPreferencePane::NSPreferencePane(std::shared_ptr<const Bundle> bundle)
    : m_bundle(std::move(bundle)) {}

NSPreferencePane::~NSPreferencePane() {
    // A view still placed in a window is taken out of it with its deletion.
    delete m_mainView.data();
}

QWidget* NSPreferencePane::loadMainView() {
    if (m_loaded)
        return m_mainView;
    m_loaded = true;
    m_mainView = createMainView().release();
    if (m_mainView)
        mainViewDidLoad();
    return m_mainView;
}

} // namespace platform
