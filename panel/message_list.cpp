#include "message_list.h"

#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cstring>

#include "device_text.h"

MessageRing::MessageRing(int capacity) : capacity_(std::max(capacity, 1)) {}

const MessageRing::Slot& MessageRing::SlotAt(int age) const {
    const int n = static_cast<int>(slots_.size());
    return slots_[static_cast<std::size_t>((oldest_ + age) % n)];
}

QByteArrayView MessageRing::Newest(int row) const {
    if (row < 0 || row >= count_) {
        return {};
    }
    const Slot& s = SlotAt(count_ - 1 - row);
    return QByteArrayView(bytes_.data() + s.offset, static_cast<qsizetype>(s.length));
}

void MessageRing::DropOldest() {
    if (count_ == 0) {
        return;
    }
    oldest_ = (oldest_ + 1) % static_cast<int>(slots_.size());
    --count_;
}

std::size_t MessageRing::Reserve(std::size_t length) {
    const std::size_t size = bytes_.size();
    if (count_ == 0) {
        head_ = 0;
        if (size >= length) {
            return 0;
        }
    } else {
        const std::size_t tail = SlotAt(0).offset;
        if (head_ >= tail) {
            // The lines lie in [tail, head): room after them, else before them at the start
            // (strictly before, so that the newest lines then stay below the oldest).
            if (size - head_ >= length) {
                return head_;
            }
            if (length < tail) {
                return 0;
            }
        } else if (head_ + length < tail) {
            // The lines run from tail to their end and on from the start to head.
            return head_;
        }
    }
    // Grow, and lay the lines out again from the start, oldest first.
    std::size_t used = 0;
    for (int age = 0; age < count_; ++age) {
        used += SlotAt(age).length;
    }
    std::vector<char> grown(std::max({size * 2, used + length, std::size_t{4096}}));
    std::size_t at = 0;
    for (int age = 0; age < count_; ++age) {
        Slot& s = slots_[static_cast<std::size_t>((oldest_ + age) % static_cast<int>(slots_.size()))];
        if (s.length > 0) {  // an empty line may sit in a block not yet allocated
            std::memcpy(grown.data() + at, bytes_.data() + s.offset, s.length);
        }
        s.offset = static_cast<std::uint32_t>(at);
        at += s.length;
    }
    bytes_.swap(grown);
    return at;
}

bool MessageRing::Push(QByteArrayView line) {
    bool dropped = false;
    if (count_ == capacity_) {
        DropOldest();
        dropped = true;
    }
    const auto length = static_cast<std::size_t>(line.size());
    const std::size_t at = Reserve(length);
    if (length > 0) {
        std::memcpy(bytes_.data() + at, line.data(), length);
    }
    head_ = at + length;
    const Slot slot{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length)};
    if (static_cast<int>(slots_.size()) < capacity_) {
        // Still filling: the slots are in order from the first one.
        slots_.push_back(slot);
    } else {
        slots_[static_cast<std::size_t>((oldest_ + count_) % capacity_)] = slot;
    }
    ++count_;
    return dropped;
}

void MessageRing::Clear() {
    count_ = 0;
    oldest_ = 0;
    head_ = 0;
    slots_.clear();
}

std::size_t MessageRing::BytesHeld() const {
    return bytes_.capacity() + slots_.capacity() * sizeof(Slot);
}

MessageListModel::MessageListModel(int capacity, QObject* parent) : QAbstractListModel(parent), ring_(capacity) {}

int MessageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ring_.Count();
}

QModelIndex MessageListModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || column != 0 || row < 0 || row >= ring_.Count()) {
        return {};
    }
    return createIndex(row, column);
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= ring_.Count() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) {
        return {};
    }
    return DecodeDeviceText(ring_.Newest(index.row()));
}

void MessageListModel::Add(const QString& text) {
    const QByteArray bytes = EncodeDeviceText(text);
    if (ring_.Count() == ring_.Capacity()) {
        const int last = ring_.Count() - 1;
        beginRemoveRows(QModelIndex(), last, last);
        ring_.DropOldest();
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), 0, 0);
    ring_.Push(bytes);
    endInsertRows();
}

void MessageListModel::Clear() {
    beginResetModel();
    ring_.Clear();
    endResetModel();
}

// The uniform layout sizes every line as the one line it measures. Each line is as wide as the
// widest added so far, so that the list scrolls to the end of any line and cuts none short.
class WidestLineDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void Widen(int width) { widest_ = std::max(widest_, width); }
    void Reset() { widest_ = 0; }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(std::max(size.width(), widest_));
        return size;
    }

private:
    int widest_ = 0;
};

CMessageList::CMessageList(QWidget* parent)
    : QListView(parent), model_(new MessageListModel(kCapacity, this)), delegate_(new WidestLineDelegate(this)) {
    setModel(model_);
    setItemDelegate(delegate_);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // All lines are one text line high: the list lays out in constant time per line.
    setUniformItemSizes(true);
}

void CMessageList::AddLine(const QString& text) {
    // The text's width and the item's margins on both sides, as the style draws them.
    const int margin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    delegate_->Widen(fontMetrics().horizontalAdvance(text) + margin);
    model_->Add(text);
}

void CMessageList::Clear() {
    delegate_->Reset();
    model_->Clear();
}

QString CMessageList::text(int row) const {
    return DecodeDeviceText(model_->Ring().Newest(row));
}

QByteArray CMessageList::bytes(int row) const {
    return model_->Ring().Newest(row).toByteArray();
}
