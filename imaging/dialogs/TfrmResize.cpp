#include "imaging/dialogs/TfrmResize.h"

#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/BitmapOps.h"
#include "platform/Messages.h"
#include "platform/Rounding.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

int TfrmResize::InitialWidth = 0;
int TfrmResize::InitialHeight = 0;
int TfrmResize::TargetWidth = 0;
int TfrmResize::TargetHeight = 0;

TfrmResize::TfrmResize(TDesigner* designer, QWidget* parent)
    : QDialog(parent, Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      m_designer(designer) {
    setWindowTitle(QStringLiteral("Resize image"));
    Edit1 = new QLineEdit(this);
    Edit2 = new QLineEdit(this);
    Edit3 = new QLineEdit(this);
    Edit4 = new QLineEdit(this);
    UpDown1 = new TUpDown(Edit1, this);
    UpDown2 = new TUpDown(Edit2, this);
    UpDown3 = new TUpDown(Edit3, this);
    UpDown4 = new TUpDown(Edit4, this);
    CheckBox1 = new QCheckBox(QStringLiteral("Proportional"), this);
    CheckBox1->setChecked(true);
    lblOrgWidth = new QLabel(this);
    lblOrgHeight = new QLabel(this);
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setAutoDefault(false);
    Button2->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Original Width, pixels:"), this), 0, 0);
    grid->addWidget(lblOrgWidth, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Original Height, pixels:"), this), 1, 0);
    grid->addWidget(lblOrgHeight, 1, 1);
    const QString captions[] = {QStringLiteral("Width, pixels:"), QStringLiteral("Width, %:"),
                                QStringLiteral("Height, pixels:"), QStringLiteral("Height, %:")};
    QLineEdit* edits[] = {Edit1, Edit2, Edit3, Edit4};
    TUpDown* ups[] = {UpDown1, UpDown2, UpDown3, UpDown4};
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(new QLabel(captions[i], this), 2 + i, 0);
        grid->addWidget(edits[i], 2 + i, 1);
        grid->addWidget(ups[i], 2 + i, 2);
        edits[i]->installEventFilter(this);
    }
    grid->addWidget(CheckBox1, 6, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    grid->addLayout(buttons, 7, 0, 1, 3);

    connect(UpDown1, &TUpDown::clicked, this, &TfrmResize::Edit1Chng);
    connect(UpDown2, &TUpDown::clicked, this, &TfrmResize::Edit2Chng);
    connect(UpDown3, &TUpDown::clicked, this, &TfrmResize::Edit3Chng);
    connect(UpDown4, &TUpDown::clicked, this, &TfrmResize::Edit4Chng);
    connect(CheckBox1, &QCheckBox::clicked, this, &TfrmResize::CheckBox1Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmResize::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmResize::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TfrmResize::FormShow() {
    InitialWidth = m_designer->realPicture.width();
    InitialHeight = m_designer->realPicture.height();
    UpDown1->Max = InitialWidth;
    UpDown1->setPosition(InitialWidth);
    UpDown3->Max = InitialHeight;
    UpDown3->setPosition(InitialHeight);
    // The per-cent fields start at the full size they describe.
    UpDown2->Max = 100;
    UpDown2->setPosition(100);
    UpDown4->Max = 100;
    UpDown4->setPosition(100);
    lblOrgWidth->setText(QString::number(InitialWidth));
    lblOrgHeight->setText(QString::number(InitialHeight));
    TargetWidth = InitialWidth;
    TargetHeight = InitialHeight;
}

// The handlers run on key-up in their field: that is where typing ends.
bool TfrmResize::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyRelease)
        return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (watched == Edit1)
        Edit1Chng();
    else if (watched == Edit2)
        Edit2Chng();
    else if (watched == Edit3)
        Edit3Chng();
    else if (watched == Edit4)
        Edit4Chng();
    else
        return QDialog::eventFilter(watched, event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        Button1Click();
    return false;
}

bool TfrmResize::fieldValue(QLineEdit* edit, int* value) {
    bool ok = false;
    const int v = edit->text().trimmed().toInt(&ok);
    if (!ok) {
        ShowError(QStringLiteral("'%1' is not a valid integer value").arg(edit->text()));
        return false;
    }
    *value = v;
    return true;
}

void TfrmResize::setField(QLineEdit* edit, int value) {
    edit->setText(QString::number(value));
}

void TfrmResize::linkHeightFromPercent(int percent) {
    setField(Edit4, percent);
    TargetHeight = RoundHalfEven(double(percent) * InitialHeight / 100.0);
    setField(Edit3, TargetHeight);
}

void TfrmResize::linkWidthFromPercent(int percent) {
    setField(Edit2, percent);
    TargetWidth = RoundHalfEven(double(percent) * InitialWidth / 100.0);
    setField(Edit1, TargetWidth);
}

void TfrmResize::Edit1Chng() {
    int v;
    if (InitialWidth <= 0 || !fieldValue(Edit1, &v))
        return;
    TargetWidth = v;
    const int percent = RoundHalfEven(double(TargetWidth) / InitialWidth * 100.0);
    setField(Edit2, percent);
    if (CheckBox1->isChecked())
        linkHeightFromPercent(percent);
}

void TfrmResize::Edit2Chng() {
    int percent;
    if (InitialWidth <= 0 || !fieldValue(Edit2, &percent))
        return;
    TargetWidth = RoundHalfEven(double(percent) * InitialWidth / 100.0);
    setField(Edit1, TargetWidth);
    if (CheckBox1->isChecked())
        linkHeightFromPercent(percent);
}

void TfrmResize::Edit3Chng() {
    int v;
    if (InitialHeight <= 0 || !fieldValue(Edit3, &v))
        return;
    TargetHeight = v;
    const int percent = RoundHalfEven(double(TargetHeight) / InitialHeight * 100.0);
    setField(Edit4, percent);
    if (CheckBox1->isChecked())
        linkWidthFromPercent(percent);
}

void TfrmResize::Edit4Chng() {
    int percent;
    if (InitialHeight <= 0 || !fieldValue(Edit4, &percent))
        return;
    TargetHeight = RoundHalfEven(double(percent) * InitialHeight / 100.0);
    setField(Edit3, TargetHeight);
    if (CheckBox1->isChecked())
        linkWidthFromPercent(percent);
}

void TfrmResize::CheckBox1Click() {
    if (CheckBox1->isChecked())
        Edit4Chng();
}

void TfrmResize::Button1Click() {
    // A picture of no pixels cannot be shown or saved; ask again instead.
    if (TargetWidth < 1 || TargetHeight < 1) {
        ShowError(QStringLiteral("The new width and height must be at least 1 pixel."));
        return;
    }
    // The size it has already: nothing to resample, and the photo stays unmodified.
    if (QSize(TargetWidth, TargetHeight) == m_designer->realPicture.size()) {
        accept();
        return;
    }
    // A size that does not fit in memory fails with "Not enough memory for a W × H image." and
    // leaves the photo as it was.
    QImage full = m_designer->realPicture;
    ResampleBitmap(full, TargetWidth, TargetHeight);
    m_designer->realPicture = full;
    m_designer->PictureEdited = true;
    m_designer->UpdatePreview();
    const QSize client = m_designer->size();
    const QSize preview = m_designer->PreviewSize();
    m_designer->Panel1->move(std::max(0, (client.width() - preview.width()) / 2),
                             std::max(0, (client.height() - preview.height()) / 2));
    m_designer->update();
    m_designer->PhotoModified = true;
    accept();
}
