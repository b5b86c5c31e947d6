// Bringing the app's alert in front of other applications. The app has no window and no Dock icon, so
// raising a Qt window alone leaves the alert behind the active application on macOS.
#pragma once

#include <QtGui/qwindowdefs.h>

namespace AppActivation {

// `window`: the alert's native window (QWidget::winId), already shown.
void bringToFront(WId window);

} // namespace AppActivation
