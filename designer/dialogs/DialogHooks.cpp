#include "designer/dialogs/DialogHooks.h"

#include "platform/StandardDialogs.h"
#include "platform/TFont.h"

#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>

namespace {

QString runFileDialog(const FileDialogRequest& r, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(nullptr, r.title, r.startFile, r.filter);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, mode == QFileDialog::AcceptOpen);
    if (!r.selectedFilter.isEmpty())
        dialog.selectNameFilter(r.selectedFilter);
    if (!r.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(r.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

EditorDialogHooks standardHooks() {
    EditorDialogHooks h;
    h.ChooseFont = RunFontDialog;
    h.ChooseColor = RunColorDialog;
    h.OpenFile = [](const FileDialogRequest& r) {
        return runFileDialog(r, QFileDialog::AcceptOpen);
    };
    h.SaveFile = [](const FileDialogRequest& r) {
        return runFileDialog(r, QFileDialog::AcceptSave);
    };
    h.Exec = [](QDialog& dialog) { return dialog.exec(); };
    return h;
}

} // namespace

EditorDialogHooks& EditorDialogs() {
    static EditorDialogHooks hooks = standardHooks();
    return hooks;
}

void ResetEditorDialogs() {
    EditorDialogs() = standardHooks();
}
