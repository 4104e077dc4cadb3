#pragma once

#include <QByteArray>
#include <QString>

// Writes data to path through a temporary file in the same folder, renamed over the old file
// only once everything is written: a failed write leaves the old file as it was. Returns the
// system's reason on failure (a short write is retried so that the real cause shows, e.g.
// "File too large"), an empty text on success.
QString WriteFileReplacing(const QString& path, const QByteArray& data);
