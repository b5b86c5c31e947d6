// Bringing the app in front of other applications before it shows an alert. The app has no window and no
// Dock icon, so raising a Qt window alone leaves the alert behind the active application on macOS.
#pragma once

namespace AppActivation {

void bringToFront();

} // namespace AppActivation
