#include "RegisterBricks.h"

#include "ComponentRegistry.h"
#include "PictureLoader.h"
#include "TBubbleFrom.h"
#include "TPictureimg.h"
#include "TText.h"
#include "TTextBubble.h"
#include "TTextDate.h"
#include "TTextTime.h"

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
}
