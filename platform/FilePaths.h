#pragma once

#include <QString>

// The folder part of a path with its trailing slash ("/p/a.jpg" gives "/p/"), empty for a bare
// name.
QString FolderOf(const QString& path);

// The part after the last slash.
QString FileNameOf(const QString& path);
