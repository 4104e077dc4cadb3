#include "platform/Application.h"
#include "imaging/core/BitmapOps.h"
#include "tests/bricks/BrickTestSupport.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "tests/support/TestSupport.h"
#include "imaging/dialogs/TfrmResize.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>

namespace {

const QChar Times(0x00D7);

struct MessageLog {
    QList<QPair<MessageKind, QString>> shown;
    MessageLog() {
        SetMessageHandler([this](MessageKind k, const QString& t) { shown.append({k, t}); });
    }
    ~MessageLog() { SetMessageHandler({}); }
};

// Types a text into a field as the user does: the field's handler runs on key-up.
void type(QLineEdit* edit, const QString& text, int key = Qt::Key_0) {
    edit->setText(text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(edit, &release);
}

// An object whose event handler fails with what it is given.
class Failing : public QObject {
public:
    std::function<void()> fail;
    int handled = 0;

protected:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        ++handled;
        if (fail)
            fail();
        return true;
    }
};

} // namespace

TEST(ImageMemory, OperationsBeyondMemoryFailWithTheSize) {
    QImage photo = makeTestPhoto(30, 20);
    const QImage before = photo;
    try {
        ResampleBitmap(photo, 200000, 133333);
        FAIL() << "a 100 GB picture was made";
    } catch (const EOutOfMemory& e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("Not enough memory for a 200000 %1 133333 image.").arg(Times));
    }
    EXPECT_EQ(photo, before) << "the picture is left as it was";

    QImage tall(4, 1000000, QImage::Format_RGB32);
    ASSERT_FALSE(tall.isNull());
    tall.fill(Qt::red);
    try {
        RotateBitmap(tall, qRgb(255, 255, 255), 45.5); // about 710000 pixels square
        FAIL() << "a half-terabyte picture was made";
    } catch (const EOutOfMemory& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Not enough memory for a ")));
        EXPECT_TRUE(e.message().endsWith(QStringLiteral(" image.")));
        EXPECT_TRUE(e.message().contains(Times));
    }
}

// An exception out of a key handler reaches the application's handler and its error box.
TEST(ApplicationHandler, ResizeBeyondMemoryShowsTheMessageAndKeepsThePhoto) {
    SurfaceFixture f{QSize(300, 200), 2.0};
    TfrmResize dlg{f.designer.get()};
    dlg.show();
    MessageLog log;
    dlg.CheckBox1->click();
    ASSERT_FALSE(dlg.CheckBox1->isChecked());
    type(dlg.Edit1, QStringLiteral("200000"));
    type(dlg.Edit3, QStringLiteral("133333"), Qt::Key_Return); // Enter runs OK

    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].first, MessageKind::Error);
    EXPECT_EQ(log.shown[0].second,
              QStringLiteral("Not enough memory for a 200000 %1 133333 image.").arg(Times));
    EXPECT_EQ(f.designer->realPicture.size(), QSize(300, 200));
    EXPECT_EQ(f.designer->PreviewSize(), QSize(150, 100));
    EXPECT_FALSE(f.designer->PhotoModified);
    EXPECT_TRUE(dlg.isVisible()) << "the dialog stays for another size";

    // The dialog goes on working.
    type(dlg.Edit1, QStringLiteral("600"));
    type(dlg.Edit3, QStringLiteral("400"), Qt::Key_Return);
    EXPECT_EQ(log.shown.size(), 1);
    EXPECT_EQ(f.designer->realPicture.size(), QSize(600, 400));
    EXPECT_FALSE(dlg.isVisible());
}

TEST(ApplicationHandler, EveryKindOfExceptionIsShownAndDeliveryGoesOn) {
    Failing target;
    MessageLog log;
    const struct {
        std::function<void()> fail;
        QString shown;
    } cases[] = {
        {[] { throw EConvertError(QStringLiteral("'x' is not a valid integer value")); },
         QStringLiteral("'x' is not a valid integer value")},
        {[] { throw std::bad_alloc(); }, QStringLiteral("Not enough memory.")},
        {[] { throw std::runtime_error("disk on fire"); }, QStringLiteral("disk on fire")},
        {[] { throw 42; }, QStringLiteral("The operation failed with an unexpected error.")},
    };
    int n = 0;
    for (const auto& c : cases) {
        target.fail = c.fail;
        QEvent e(QEvent::User);
        EXPECT_FALSE(QApplication::sendEvent(&target, &e));
        ++n;
        ASSERT_EQ(log.shown.size(), n);
        EXPECT_EQ(log.shown.last().first, MessageKind::Error);
        EXPECT_EQ(log.shown.last().second, c.shown);
    }
    // Without a failure the event is handled as usual and nothing is shown.
    target.fail = nullptr;
    QEvent e(QEvent::User);
    EXPECT_TRUE(QApplication::sendEvent(&target, &e));
    EXPECT_EQ(target.handled, n + 1);
    EXPECT_EQ(log.shown.size(), n);
}

// The program's application object, headless, with settings in a fresh folder.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("CAPTIOMARK_CONFIG_DIR", config.path().toLocal8Bit());
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    CaptiomarkApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
