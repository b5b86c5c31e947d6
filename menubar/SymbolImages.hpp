// The menu-bar symbols, looked up by the names the display asks for ("globe", "globe.slash", ...).
#pragma once

#include <QIcon>
#include <QString>
#include <optional>

namespace SymbolImages {

// The monochrome SVG drawn for `name` from the app's resources, sharp at any size; nothing for an unknown
// name.
std::optional<QIcon> load(const QString& name);

} // namespace SymbolImages
