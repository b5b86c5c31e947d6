// Draws the SVG symbols through QSvgRenderer, so the icons need no image-format plugin at run time.
#include "SymbolImages.hpp"

#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <memory>

// Resources in a static library must be registered by name, outside any namespace.
static void registerSymbolResources() {
    Q_INIT_RESOURCE(symbols);
}

namespace SymbolImages {
namespace {

class SvgSymbolEngine final : public QIconEngine {
public:
    explicit SvgSymbolEngine(std::shared_ptr<QSvgRenderer> renderer) : renderer_(std::move(renderer)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        renderer_->render(painter, rect);
    }

    // The base class paints onto an uncleared pixmap; a menu-bar symbol needs a transparent background.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap image(size);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return image;
    }

    QIconEngine* clone() const override { return new SvgSymbolEngine(renderer_); }

private:
    std::shared_ptr<QSvgRenderer> renderer_;
};

} // namespace

std::optional<QIcon> load(const QString& name) {
    static const bool registered = (registerSymbolResources(), true);
    (void)registered;
    QString path = QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
    if (!QFile::exists(path)) {
        return std::nullopt;
    }
    auto renderer = std::make_shared<QSvgRenderer>(path);
    if (!renderer->isValid()) {
        return std::nullopt;
    }
    return QIcon(new SvgSymbolEngine(std::move(renderer)));
}

} // namespace SymbolImages
