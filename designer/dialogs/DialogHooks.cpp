#include "designer/dialogs/DialogHooks.h"

#include "platform/StandardDialogs.h"
#include "platform/TFont.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QScreen>
#include <algorithm>

namespace {

QString runFileDialog(const FileDialogRequest& r, QFileDialog::AcceptMode mode) {
    // Over the window that asked, as every dialog of the program opens.
    QFileDialog dialog(QApplication::activeWindow(), r.title, r.startFile, r.filter);
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
    h.Exec = [](QDialog& dialog) {
        PlaceOverOwner(dialog);
        return dialog.exec();
    };
    return h;
}

} // namespace

void PlaceOverOwner(QDialog& dialog) {
    QWidget* owner = dialog.parentWidget() ? dialog.parentWidget()->window()
                                           : QApplication::activeWindow();
    if (!owner || owner == &dialog)
        return;
    dialog.adjustSize();
    QRect frame(QPoint(), dialog.frameGeometry().size());
    frame.moveCenter(owner->frameGeometry().center());
    // Whole on the owner's screen.
    if (const QScreen* screen = owner->screen()) {
        const QRect room = screen->availableGeometry();
        frame.moveLeft(std::clamp(frame.left(), room.left(),
                                  std::max(room.left(), room.right() - frame.width() + 1)));
        frame.moveTop(std::clamp(frame.top(), room.top(),
                                 std::max(room.top(), room.bottom() - frame.height() + 1)));
    }
    dialog.move(frame.topLeft());
}

EditorDialogHooks& EditorDialogs() {
    static EditorDialogHooks hooks = standardHooks();
    return hooks;
}

void ResetEditorDialogs() {
    EditorDialogs() = standardHooks();
}
