// The model a list or drop-down list shows: the rows of a ListSource, read again only when the
// source's version has moved, through the list's format (columns, pictures, icons, tree levels).
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStyledItemDelegate>
#include <functional>
#include <memory>
#include <vector>

#include "listformat.h"
#include "ui/runtime.h"

namespace ui::detail {

class ListModel final : public QAbstractTableModel {
 public:
  static constexpr int LevelRole = Qt::UserRole + 1;

  ListModel(const ListFormat& format, double unitX, QObject* parent);

  void setSource(std::shared_ptr<ListSource> source);
  void setIcons(std::vector<QIcon> icons);
  // Tick boxes before the first column, showing each row's mark; a user's toggle goes to `toggled`
  // (with the shown row) and changes nothing here: the mark is the source's.
  void showMarks(std::function<void(int viewRow)> toggled);
  bool showsMarks() const { return static_cast<bool>(markToggled_); }
  bool marked(int viewRow) const;
  // Reads the source again when it has changed; true when the rows were replaced.
  bool refresh();

  // Rows of the source are positions from 1; the view shows the rows that no collapsed node hides.
  int sourceCount() const { return static_cast<int>(rows_.size()); }
  int viewRowOf(int position) const;  // -1 when hidden or out of range
  int positionOf(int viewRow) const;  // 0 when out of range
  // The nearest shown row at or above a position (a hidden row's collapsed ancestor).
  int nearestViewRow(int position) const;
  std::string rowText(int viewRow) const;  // the row's texts, tab-separated (clipboard)

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QString cellText(const std::vector<Cell>& row, const ListColumn& c) const;
  std::int64_t cellNumber(const std::vector<Cell>& row, int cell) const;

  ListFormat format_;
  double unitX_;
  std::shared_ptr<ListSource> source_;
  std::function<void(int)> markToggled_;
  std::vector<QIcon> icons_;
  std::vector<std::vector<Cell>> rows_;
  std::vector<int> visible_;  // source index of each shown row, ascending
  std::uint64_t version_ = 0;
  bool loaded_ = false;
};

// Draws a tree column's rows indented by their level.
class TreeDelegate final : public QStyledItemDelegate {
 public:
  TreeDelegate(int treeColumn, int indentPixels, QObject* parent);
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  int treeColumn_, indent_;
};

}  // namespace ui::detail
