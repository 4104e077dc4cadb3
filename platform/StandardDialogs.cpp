#include "platform/StandardDialogs.h"

#include "platform/TFont.h"

#include <QColorDialog>
#include <QFontDialog>
#include <algorithm>

bool RunFontDialog(TFont& font) {
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

bool RunColorDialog(TColor& color) {
    const QColor chosen =
        QColorDialog::getColor(TColorToQColor(color), nullptr, QStringLiteral("Colour"));
    if (!chosen.isValid())
        return false;
    color = QColorToTColor(chosen);
    return true;
}
