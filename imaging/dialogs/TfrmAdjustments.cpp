#include "imaging/dialogs/TfrmAdjustments.h"

#include "designer/state/TDesigner.h"
#include "imaging/core/ColorAdjust.h"
#include "platform/Rounding.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>

namespace {

class PaintBox : public QWidget {
public:
    PaintBox(const TfrmAdjustments* owner, QWidget* parent) : QWidget(parent), m_owner(owner) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(0, 0, m_owner->PreviewImage());
    }

private:
    const TfrmAdjustments* m_owner;
};

QSlider* trackBar(QWidget* parent, int min, int max, int position) {
    auto* t = new QSlider(Qt::Horizontal, parent);
    t->setRange(min, max);
    t->setValue(position);
    t->setSingleStep(100);
    t->setPageStep(20);
    t->setTickInterval(10);
    t->setTickPosition(QSlider::TicksBelow);
    return t;
}

QString valueText(double v) {
    return QString::number(v, 'g', 15);
}

} // namespace

TfrmAdjustments::TfrmAdjustments(TDesigner* designer, std::function<void()> fitToPage,
                                 QWidget* parent)
    : QDialog(parent), m_designer(designer), m_fitToPage(std::move(fitToPage)) {
    setWindowTitle(QStringLiteral("Adjustments"));
    trbarSaturation = trackBar(this, 0, 300, 100);
    trbarBrightness = trackBar(this, -100, 100, 0);
    trbarContrast = trackBar(this, 0, 300, 100);
    lblSat = new QLabel(QStringLiteral("0"), this);
    lblBrig = new QLabel(QStringLiteral("0"), this);
    lblContrast = new QLabel(QStringLiteral("0"), this);
    Panel2 = new QWidget(this);
    Panel2->setFixedSize(624, 482);
    PaintBox1 = new PaintBox(this, Panel2);
    PaintBox1->setGeometry(0, 0, 624, 482);
    btnAccept = new QPushButton(QStringLiteral("Accept"), this);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Panel2, 0, 0, 1, 3);
    const QString captions[] = {QStringLiteral("Saturation"), QStringLiteral("Brightness"),
                                QStringLiteral("Contrast")};
    QSlider* bars[] = {trbarSaturation, trbarBrightness, trbarContrast};
    QLabel* labels[] = {lblSat, lblBrig, lblContrast};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(new QLabel(captions[i], this), 1 + i, 0);
        grid->addWidget(bars[i], 1 + i, 1);
        grid->addWidget(labels[i], 1 + i, 2);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnAccept);
    buttons->addWidget(btnCancel);
    grid->addLayout(buttons, 4, 0, 1, 3);

    // The preview works on a thumbnail no larger than the panel, so dragging stays smooth.
    const QSize preview = designer->PreviewSize();
    if (!preview.isEmpty()) {
        const double f = std::max(double(preview.height()) / Panel2->height(),
                                  double(preview.width()) / Panel2->width());
        const int w = std::max(1, RoundHalfEven(preview.width() / f));
        const int h = std::max(1, RoundHalfEven(preview.height() / f));
        m_thumbnail = designer->ScaledPicture(QSize(w, h));
    }
    S = B = C = M = IdentityColorMatrix();
    MatrixMult();

    connect(trbarSaturation, &QSlider::valueChanged, this, &TfrmAdjustments::trbarSaturationChange);
    connect(trbarBrightness, &QSlider::valueChanged, this, &TfrmAdjustments::trbarBrightnessChange);
    connect(trbarContrast, &QSlider::valueChanged, this, &TfrmAdjustments::trbarContrastChange);
    connect(btnAccept, &QPushButton::clicked, this, &TfrmAdjustments::btnAcceptClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmAdjustments::MatrixMult() {
    M = ::MatrixMult(S, B, C);
    PaintBox1->update();
}

void TfrmAdjustments::trbarSaturationChange() {
    const double s = trbarSaturation->value() / 100.0;
    lblSat->setText(valueText(s));
    S = SaturationMatrix(s);
    MatrixMult();
}

void TfrmAdjustments::trbarBrightnessChange() {
    const double b = trbarBrightness->value() / 100.0;
    lblBrig->setText(valueText(b));
    B = BrightnessMatrix(b);
    MatrixMult();
}

void TfrmAdjustments::trbarContrastChange() {
    const double c = trbarContrast->value() / 100.0;
    lblContrast->setText(valueText(c));
    C = ContrastMatrix(c);
    MatrixMult();
}

QImage TfrmAdjustments::PreviewImage() const {
    return ApplyColorMatrix(m_thumbnail, M);
}

void TfrmAdjustments::btnAcceptClick() {
    MatrixMult();
    // Accept with every slider at its middle changes no pixel: the photo stays unmodified.
    if (M == IdentityColorMatrix()) {
        accept();
        return;
    }
    ApplyColorMatrixInPlace(m_designer->realPicture, M);
    m_designer->PictureEdited = true;
    m_designer->PhotoModified = true;
    if (m_fitToPage)
        m_fitToPage();
    else
        m_designer->UpdatePreview();
    accept();
}
