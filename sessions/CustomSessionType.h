#pragma once

#include <QString>
#include <QStringList>

// What the Add New Session dialog decides when the user presses Add, without a
// window: build the session type from the port text or, only when the port
// text names no port, from the applications (in the order given), then add it
// to the catalogue under `name`, opening and closing the catalogue for it.
//
// Returns 0 when the session type was added (`*sessionTypeText` then holds its
// text), otherwise the string-table id of the message to show: 115 for an
// empty name, 116 for a port text that is not port notation or that names
// nothing while no application is given, 117 for a name the catalogue already
// holds (the catalogue is left unchanged).
quint32 AddCustomSessionType(const QString& name, const QString& portText,
                             const QStringList& applications, QString* sessionTypeText = nullptr);
