#include "Platform/Ui/FillParent.h"

#include <QObject>
#include <QQuickItem>

namespace platform {

namespace {

// A child object of the filled item: it dies with the item, taking the connections along.
class Filler final : public QObject {
public:
    Filler(QQuickItem* item, QQuickItem* parent) : QObject(item) {
        setObjectName(QStringLiteral("platform.FillParent"));
        auto follow = [item, parent] { item->setSize(parent->size()); };
        connect(parent, &QQuickItem::widthChanged, this, follow);
        connect(parent, &QQuickItem::heightChanged, this, follow);
        item->setPosition({0, 0});
        follow();
    }
};

}  // namespace

void FillParent(QQuickItem* item, QQuickItem* parent) {
    if (!item) return;
    delete item->findChild<QObject*>(QStringLiteral("platform.FillParent"), Qt::FindDirectChildrenOnly);
    item->setParentItem(parent);
    if (parent) new Filler(item, parent);
}

}  // namespace platform
