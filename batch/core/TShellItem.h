#pragma once

#include <QString>

// One entry of a folder list or of the batch job list.
struct TShellItem {
    QString ItemId; // identifies the source entry; the canonical path of the file here
    bool DetailsPending = true;
    QString DisplayName;
    QString FullPath;
    QString TypeText;
    int ImageIndex = -1;
    quint32 Attributes = 0;
    bool IsFolder = false;
};
