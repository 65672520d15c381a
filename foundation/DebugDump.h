#pragma once

#include <QString>

// What the program shows, written as text into $TERVALA_DEBUG_DUMP_DIR/<name>
// whenever it changes. Off unless that variable is set: end-to-end tests read
// these files to check a running program from outside, next to screenshots.
namespace DebugDump {
bool Enabled();
void Write(const QString& name, const QString& text);
} // namespace DebugDump
