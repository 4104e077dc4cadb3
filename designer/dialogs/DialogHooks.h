#pragma once

#include "platform/Toolkit.h"

#include <QString>
#include <functional>

class QDialog;
class TFont;

// A file dialog's set-up: the filter in Qt's form ("Icons (*.ico);;All (*)").
struct FileDialogRequest {
    QString title;
    QString filter;
    QString selectedFilter;
    QString defaultSuffix;
    QString startFile;
};

// The toolkit dialogs the editors open, swappable so that tests can answer them. Each chooser
// returns false (or an empty file name) when the user cancels.
struct EditorDialogHooks {
    std::function<bool(TFont&)> ChooseFont;
    std::function<bool(TColor&)> ChooseColor; // full-open, solid colours
    std::function<QString(const FileDialogRequest&)> OpenFile;
    std::function<QString(const FileDialogRequest&)> SaveFile;
    // Runs a modal dialog; returns QDialog::Accepted or Rejected.
    std::function<int(QDialog&)> Exec;
};

EditorDialogHooks& EditorDialogs();
// Centres a dialog on its parent's window (the active window when it has no parent), kept on
// that window's screen. The standard Exec does this before it runs the dialog.
void PlaceOverOwner(QDialog& dialog);
// Back to the toolkit's own dialogs.
void ResetEditorDialogs();
