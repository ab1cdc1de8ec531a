#include "menuextra/QLMenuExtra.h"

#include "menuextra/store/QL_CalendarStore.h"

QLMenuExtra::QLMenuExtra() = default;

QString QLMenuExtra::applicationSupportFolder() {
    return ql::applicationSupportFolder();
}

QColor QLMenuExtra::colorFromRGBAHex(const QString& text) {
    return ql::colorFromRGBAHex(text);
}
