// The real desktop behind the menu actions: QMessageBox, QDesktopServices and access(2).
#include "DesktopServices.hpp"

#include "AppActivation.hpp"

#include <QDesktopServices>
#include <QMessageBox>
#include <system_error>
#include <unistd.h>

void MessageBoxAlerts::warn(const QString& message, const QString& informativeText) {
    QMessageBox box(QMessageBox::Warning, QString(), message, QMessageBox::Ok);
    box.setInformativeText(informativeText);
    // The app has no window of its own, so the alert would otherwise open behind the active application.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.show();
    AppActivation::bringToFront(box);
    box.raise();
    box.activateWindow();
    box.exec();
}

void DesktopFileOpener::open(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

bool PosixFileAccess::isReadable(const std::filesystem::path& path) const {
    return ::access(path.c_str(), R_OK) == 0;
}

bool PosixFileAccess::exists(const std::filesystem::path& path) const {
    std::error_code error;
    return std::filesystem::exists(path, error);
}
