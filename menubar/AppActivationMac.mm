// macOS: an accessory app (LSUIElement) becomes the active application only when it asks to, and since
// macOS 14 asking is a request the system may decline (cooperative activation).
#include "AppActivation.hpp"

#import <AppKit/AppKit.h>

namespace AppActivation {

void bringToFront(WId window) {
    if (@available(macOS 14.0, *)) {
        [NSApp activate];
    } else {
        [NSApp activateIgnoringOtherApps:YES];
    }
    // Visible whether or not the activation was granted: above the ordinary windows of every application by
    // its level, and at the front of that level although the app may not be the active one. It becomes the
    // key window when the user clicks it.
    NSWindow* alert = reinterpret_cast<NSView*>(window).window;
    alert.level = NSModalPanelWindowLevel;
    [alert orderFrontRegardless];
}

} // namespace AppActivation
