// Telling the user something through the desktop's own notifications, which the user switches off in the
// system's settings. The platform's implementation is chosen by the build.
#pragma once

#include <QString>
#include <memory>

// Plain text, one line each: no markup.
struct Notification {
    QString title;
    QString body;

    bool operator==(const Notification&) const = default;
};

class Notifying {
public:
    virtual ~Notifying() = default;
    // Returns at once; whether and how the notification is shown is the desktop's affair.
    virtual void post(const Notification& notification) = 0;
};

namespace Notifier {

// The desktop's notification service for the running application.
std::shared_ptr<Notifying> desktop();

} // namespace Notifier
