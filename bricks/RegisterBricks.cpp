#include "bricks/RegisterBricks.h"

#include "bricks/BrickPlacement.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/PictureLoader.h"
#include "platform/ComponentRegistry.h"

namespace {
template <class T> void registerClass(const char* name) {
    RegisterComponentClass(QString::fromLatin1(name),
                           [](QWidget* parent) { return new T(parent); });
}
} // namespace

void RegisterBricks() {
    TPicture::SetCodec(
        [](const QByteArray& data) {
            LoadedGraphic g = LoadGraphicData(data);
            return TPicture::Graphic{g.className, g.data, g.image};
        },
        [](const TPicture::Graphic& g) {
            return MakePictureData({g.className, g.data, g.image});
        });
    registerClass<TText>("TText");
    registerClass<TTextTime>("TTextTime");
    registerClass<TTextDate>("TTextDate");
    registerClass<TPictureimg>("TPictureimg");
    registerClass<TTextBubble>("TTextBubble");
    registerClass<TBubbleFrom>("TBubbleFrom");
    TcPanel::SetBrickOverlay(PaintSpills);
}
