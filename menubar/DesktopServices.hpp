// The desktop's services that the menu actions use: alerts, opening a file in its default application,
// and the file tests. Each is a small interface so tests can stand in for the real desktop.
#pragma once

#include <QString>
#include <QUrl>
#include <filesystem>

class Alerting {
public:
    virtual ~Alerting() = default;
    // A modal warning with one default button, in front of other applications; returns when it is closed.
    virtual void warn(const QString& message, const QString& informativeText) = 0;
};

class FileOpening {
public:
    virtual ~FileOpening() = default;
    // Opens the URL with the user's default application for it; the outcome is not reported.
    virtual void open(const QUrl& url) = 0;
};

class FileAccess {
public:
    virtual ~FileAccess() = default;
    virtual bool isReadable(const std::filesystem::path& path) const = 0;
    virtual bool exists(const std::filesystem::path& path) const = 0;
};

class MessageBoxAlerts final : public Alerting {
public:
    void warn(const QString& message, const QString& informativeText) override;
};

class DesktopFileOpener final : public FileOpening {
public:
    void open(const QUrl& url) override;
};

// The user's own rights decide, as the kernel checks them (access(2) with the real user id).
class PosixFileAccess final : public FileAccess {
public:
    bool isReadable(const std::filesystem::path& path) const override;
    bool exists(const std::filesystem::path& path) const override;
};
