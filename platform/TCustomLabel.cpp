#include "platform/TCustomLabel.h"

TCustomLabel::TCustomLabel(QWidget* parent) : TControl(parent), m_font(new TFont(this)) {
    SetBounds(0, 0, 65, 17);
    connect(m_font, &TFont::changed, this, &TCustomLabel::textChanged);
}

void TCustomLabel::textChanged() {
    if (!IsLoading())
        AdjustBounds();
    update();
}

void TCustomLabel::setAutoSize(bool v) {
    if (m_autoSize == v)
        return;
    m_autoSize = v;
    textChanged();
}

void TCustomLabel::setAlignment(Tk::TAlignment v) {
    if (m_alignment == v)
        return;
    m_alignment = v;
    update();
}

void TCustomLabel::setCaption(const QString& v) {
    if (m_caption == v)
        return;
    m_caption = v;
    textChanged();
}

void TCustomLabel::setColor(TColor v) {
    if (m_color == v)
        return;
    m_color = v;
    update();
}

void TCustomLabel::setTransparent(bool v) {
    m_transparent = v;
    update();
}

void TCustomLabel::setWordWrap(bool v) {
    if (m_wordWrap == v)
        return;
    m_wordWrap = v;
    textChanged();
}

void TCustomLabel::Loaded() {
    AdjustBounds();
}
