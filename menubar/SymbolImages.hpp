// The menu-bar symbols, looked up by the names the display asks for ("globe", "globe.slash", ...).
#pragma once

#include <QIcon>
#include <QString>
#include <functional>
#include <optional>

namespace SymbolImages {

// Where an image for a symbol name comes from; nothing when there is none. Tests pass their own.
using Source = std::function<std::optional<QIcon>(const QString& name)>;

// The monochrome SVG drawn for `name` from the app's resources, sharp at any size; nothing for an unknown
// name.
std::optional<QIcon> load(const QString& name);

} // namespace SymbolImages
