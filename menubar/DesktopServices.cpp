// The real desktop behind opening the log: QMessageBox, QDesktopServices and access(2).
#include "DesktopServices.hpp"

#include "AppActivation.hpp"

#include <QDesktopServices>
#include <QMessageBox>
#include <system_error>
#include <unistd.h>

void SystemDesktop::warn(const QString& message, const QString& informativeText) {
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

void SystemDesktop::open(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

bool SystemDesktop::isReadable(const std::filesystem::path& path) const {
    return ::access(path.c_str(), R_OK) == 0;
}

bool SystemDesktop::exists(const std::filesystem::path& path) const {
    std::error_code error;
    return std::filesystem::exists(path, error);
}
