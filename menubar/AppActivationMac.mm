// macOS: an accessory app (LSUIElement) becomes the active application only when it asks to.
#include "AppActivation.hpp"

#import <AppKit/AppKit.h>

namespace AppActivation {

void bringToFront() {
    // The alert follows the user's click on the menu, so the cooperative activation of macOS 14 is granted.
    if (@available(macOS 14.0, *)) {
        [NSApp activate];
    } else {
        [NSApp activateIgnoringOtherApps:YES];
    }
}

} // namespace AppActivation
