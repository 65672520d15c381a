#pragma once

#include <QString>

// The program's string table: every user-visible or resource text, by its
// identifier. Unknown identifiers give an empty text.
QString LoadString(quint32 id);
bool HasString(quint32 id);
