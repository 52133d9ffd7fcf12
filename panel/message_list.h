#pragma once
// The panel's message list: a list view over a ring of lines kept as bytes.
//
// A test program left running adds hundreds of lines a second for days; the list keeps the
// newest lines up to a fixed count and drops the oldest beyond it. The lines are kept as the
// bytes they stand for (EncodeDeviceText of the shown text: a controller's line keeps the bytes
// it came with), one after another in one growing block, so that a line costs its length plus
// a few bytes of index, and memory stops growing once the count is reached and the line lengths
// repeat. Row 0 is the newest line, as the list shows it.
//
// Window thread only.

#include <QAbstractListModel>
#include <QByteArray>
#include <QByteArrayView>
#include <QListView>

#include <cstdint>
#include <vector>

// Lines kept in the order they came, at most `capacity` of them; adding one more drops the
// oldest.
class MessageRing {
public:
    explicit MessageRing(int capacity);

    // Adds line as the newest; returns true when the oldest line was dropped to make room.
    bool Push(QByteArrayView line);
    int Count() const { return count_; }
    int Capacity() const { return capacity_; }
    // Line `row` counted from the newest (0); valid until the next Push or Clear.
    QByteArrayView Newest(int row) const;
    void DropOldest();
    void Clear();
    // Bytes held for the lines and their index.
    std::size_t BytesHeld() const;

private:
    struct Slot {
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
    };
    const Slot& SlotAt(int age) const;  // age 0: the oldest line
    // Where `length` bytes fit after the newest line, growing the block when they do not.
    std::size_t Reserve(std::size_t length);

    int capacity_;
    std::vector<Slot> slots_;  // a circle once it holds `capacity_` slots
    int oldest_ = 0;           // slot of the oldest line
    int count_ = 0;
    std::vector<char> bytes_;
    std::size_t head_ = 0;  // where the next line's bytes go
};

// The lines as a list model of one column: DisplayRole is the line decoded for the window.
class MessageListModel final : public QAbstractListModel {
    Q_OBJECT

public:
    explicit MessageListModel(int capacity, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    // As QAbstractListModel's, without its calls through rowCount and columnCount: the view
    // asks for every row's index each time it lays the list out.
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void Add(const QString& text);
    void Clear();
    const MessageRing& Ring() const { return ring_; }

private:
    MessageRing ring_;
};

class CMessageList final : public QListView {
    Q_OBJECT

public:
    // Lines the list keeps; the oldest go beyond that.
    static constexpr int kCapacity = 100000;

    explicit CMessageList(QWidget* parent = nullptr);

    // Inserts text as the newest line, on top.
    void AddLine(const QString& text);
    void Clear();
    int count() const { return model_->rowCount(); }
    // Row 0 is the newest line; a row outside the list gives an empty text.
    QString text(int row) const;
    // The bytes of line `row` (0 the newest), as a debug log writes them.
    QByteArray bytes(int row) const;
    const MessageRing& Ring() const { return model_->Ring(); }

private:
    MessageListModel* model_;
    class WidestLineDelegate* delegate_;
};
