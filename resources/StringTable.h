#pragma once

#include <QList>
#include <QString>

// The program's string table: every user-visible or resource text, by its
// identifier. Unknown identifiers give an empty text. Words for the user come
// in the language of the installed translation (English without one); data
// texts always as written.
QString LoadString(quint32 id);
bool HasString(quint32 id);
// The English text as the table has it, whatever translation is installed.
QString LoadSourceString(quint32 id);
// Whether LoadString translates the text (false for data and unknown ids).
bool IsTranslatableString(quint32 id);
// Every identifier of the table, in increasing order.
QList<quint32> StringIds();
