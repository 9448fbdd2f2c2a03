#pragma once

class QQuickItem;

namespace platform {

// Makes `item` a visual child of `parent` that keeps its parent's size, as anchors.fill does in markup
// (which C++ cannot reach). A later call moves the item and follows the new parent only; a null parent
// detaches it.
void FillParent(QQuickItem* item, QQuickItem* parent);

}  // namespace platform
