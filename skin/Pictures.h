#pragma once

#include <QString>

// Where the program's pictures ("images/...", "icons/...") are read from: the
// installed data folders first (Paths::DataFolders), then the working folder,
// so a build run from the source tree and an installed copy both find them.
// Returns the first existing file, or the working-folder path when none exists
// (so failures name a path).
namespace Pictures {
QString Path(const QString& relative);
} // namespace Pictures
