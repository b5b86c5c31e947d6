// What opening the log needs of the desktop: the file tests, opening a file in its default application, and
// an alert. Abstract so tests can stand in for the real desktop.
#pragma once

#include <QString>
#include <QUrl>
#include <filesystem>

class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    virtual bool isReadable(const std::filesystem::path& path) const = 0;
    virtual bool exists(const std::filesystem::path& path) const = 0;
    // Opens the URL with the user's default application for it; the outcome is not reported.
    virtual void open(const QUrl& url) = 0;
    // A modal warning with one default button, in front of other applications; returns when it is closed.
    virtual void warn(const QString& message, const QString& informativeText) = 0;
};

// QMessageBox, QDesktopServices, and the user's own rights as the kernel checks them (access(2) with the real
// user id).
class SystemDesktop final : public DesktopServices {
public:
    bool isReadable(const std::filesystem::path& path) const override;
    bool exists(const std::filesystem::path& path) const override;
    void open(const QUrl& url) override;
    void warn(const QString& message, const QString& informativeText) override;
};
