// macOS: an accessory app (LSUIElement) becomes the active application only when it asks to, and since
// macOS 14 asking is a request the system may decline (cooperative activation).
#include "AppActivation.hpp"

#include <QWidget>

#import <AppKit/AppKit.h>

namespace AppActivation {

void bringToFront(QWidget& alert) {
    if (@available(macOS 14.0, *)) {
        [NSApp activate];
    } else {
        [NSApp activateIgnoringOtherApps:YES];
    }
    // Visible whether or not the activation was granted: above the ordinary windows of every application by
    // its level, and at the front of that level although the app may not be the active one. It becomes the
    // key window when the user clicks it. A widget's native handle is its NSView here.
    NSWindow* window = reinterpret_cast<NSView*>(alert.winId()).window;
    window.level = NSModalPanelWindowLevel;
    [window orderFrontRegardless];
}

} // namespace AppActivation
