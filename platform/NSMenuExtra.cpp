#include "platform/NSMenuExtra.h"

namespace platform {

void NSMenuExtra::setImage(NSImagePtr image) {
    m_image = std::move(image);
    if (m_host)
        m_host->menuExtraImagesChanged(this);
}

void NSMenuExtra::setAlternateImage(NSImagePtr image) {
    m_alternateImage = std::move(image);
    if (m_host)
        m_host->menuExtraImagesChanged(this);
}

} // namespace platform
