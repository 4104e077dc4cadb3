#pragma once

#include "platform/ColorMatrix.h"

#include <QDialog>
#include <QImage>
#include <functional>

class QLabel;
class QPushButton;
class QSlider;
class TDesigner;

// "Adjustments": saturation, brightness and contrast of the open photo through one colour
// matrix, previewed live on a thumbnail and applied to the full-size picture on Accept.
class TfrmAdjustments : public QDialog {
    Q_OBJECT

public:
    // fitToPage rebuilds the preview from the full-size picture after Accept (the main window's
    // Fit to Page); without one, the surface's preview is rebuilt at its zoom ratio.
    explicit TfrmAdjustments(TDesigner* designer, std::function<void()> fitToPage = {},
                             QWidget* parent = nullptr);

    QSlider* trbarSaturation;
    QSlider* trbarBrightness;
    QSlider* trbarContrast;
    QLabel* lblSat;
    QLabel* lblBrig;
    QLabel* lblContrast;
    QWidget* Panel2;
    QWidget* PaintBox1;
    QPushButton* btnAccept;
    QPushButton* btnCancel;

    void trbarSaturationChange();
    void trbarBrightnessChange();
    void trbarContrastChange();
    void btnAcceptClick();

    const ColorMatrix& Matrix() const { return M; }
    // The thumbnail with the current matrix applied, as the paint box shows it.
    QImage PreviewImage() const;

private:
    void MatrixMult();

    TDesigner* m_designer;
    std::function<void()> m_fitToPage;
    QImage m_thumbnail;
    ColorMatrix S, B, C, M;
};
