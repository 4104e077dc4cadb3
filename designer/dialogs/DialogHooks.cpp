#include "designer/dialogs/DialogHooks.h"

#include "platform/TFont.h"

#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>

namespace {

bool runFontDialog(TFont& font) {
    QFont start(font.Name());
    start.setPointSize(std::max(1, font.Size()));
    start.setBold(font.Style() & Tk::fsBold);
    start.setItalic(font.Style() & Tk::fsItalic);
    start.setUnderline(font.Style() & Tk::fsUnderline);
    start.setStrikeOut(font.Style() & Tk::fsStrikeOut);
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, start, nullptr, QStringLiteral("Font"));
    if (!ok)
        return false;
    font.setName(chosen.family());
    if (chosen.pointSize() > 0)
        font.setSize(chosen.pointSize());
    Tk::TFontStyles styles;
    if (chosen.bold())
        styles |= Tk::fsBold;
    if (chosen.italic())
        styles |= Tk::fsItalic;
    if (chosen.underline())
        styles |= Tk::fsUnderline;
    if (chosen.strikeOut())
        styles |= Tk::fsStrikeOut;
    font.setStyle(styles);
    return true;
}

bool runColorDialog(TColor& color) {
    const QColor chosen =
        QColorDialog::getColor(TColorToQColor(color), nullptr, QStringLiteral("Colour"));
    if (!chosen.isValid())
        return false;
    color = QColorToTColor(chosen);
    return true;
}

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
    h.ChooseFont = runFontDialog;
    h.ChooseColor = runColorDialog;
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
