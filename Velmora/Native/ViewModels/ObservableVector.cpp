#include "Velmora/Native/ViewModels/ObservableVector.h"

#include <QQmlEngine>

namespace velmora {

namespace {
constexpr int kModelDataRole = Qt::UserRole + 1;
}

ObservableVector::ObservableVector() {
    QQmlEngine::setObjectOwnership(this, QQmlEngine::CppOwnership);
}

void ObservableVector::Append(std::shared_ptr<framework::ViewModelBase> item) {
    int row = Count();
    beginInsertRows(QModelIndex(), row, row);
    items_.push_back(std::move(item));
    endInsertRows();
    emit countChanged();
}

void ObservableVector::Clear() {
    if (items_.empty()) return;
    beginRemoveRows(QModelIndex(), 0, Count() - 1);
    // The rows are gone for the views before the view models go.
    auto removed = std::move(items_);
    items_.clear();
    endRemoveRows();
    emit countChanged();
}

int ObservableVector::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int ObservableVector::indexOf(QObject* item) const {
    if (!item) return -1;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == item) return static_cast<int>(i);
    }
    return -1;
}

QVariant ObservableVector::data(const QModelIndex& index, int role) const {
    if (role != kModelDataRole || index.parent().isValid() || index.row() < 0 || index.row() >= Count())
        return {};
    return QVariant::fromValue<QObject*>(items_[static_cast<size_t>(index.row())].get());
}

QHash<int, QByteArray> ObservableVector::roleNames() const {
    return {{kModelDataRole, "modelData"}};
}

}  // namespace velmora
