// Bringing the app's alert in front of other applications. The app has no window and no Dock icon, so
// raising a Qt window alone leaves the alert behind the active application on macOS.
#pragma once

class QWidget;

namespace AppActivation {

// `alert`: the alert's window, already shown.
void bringToFront(QWidget& alert);

} // namespace AppActivation
