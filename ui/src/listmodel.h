// The model a list or drop-down list shows: the rows of a ListSource, read again only when the
// source's version has moved, through the list's format (columns, pictures, icons, tree levels).
//
// A list whose format has a tree column is a real tree: each row is the child of the nearest row
// before it with a smaller level, and a row with a negative level is collapsed. Reading the source
// again changes only what changed (rows inserted, removed or updated under their parent, matched
// by their first text among their siblings), so the view keeps its highlight, its scroll position
// and the folders the user opened. A list without a tree column is the same model, one level deep.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <QTreeView>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "listformat.h"
#include "ui/runtime.h"

namespace ui::detail {

class ListModel final : public QAbstractItemModel {
 public:
  ListModel(const ListFormat& format, QObject* parent);
  ~ListModel() override;

  void setSource(std::shared_ptr<ListSource> source);
  void setIcons(std::vector<QIcon> icons);
  // Tick boxes before the first column, showing each row's mark; a user's toggle goes to `toggled`
  // (with the row's position) and changes nothing here: the mark is the source's.
  void showMarks(std::function<void(int position)> toggled);
  bool showsMarks() const { return static_cast<bool>(markToggled_); }
  bool marked(const QModelIndex& index) const;
  // Reads the source again when it has changed; true when anything was read.
  bool refresh();

  // Rows of the source are positions from 1, in the source's order.
  int sourceCount() const { return static_cast<int>(order_.size()); }
  QModelIndex indexOf(int position, int column = 0) const;  // invalid when out of range
  int positionOf(const QModelIndex& index) const;           // 0 when invalid
  // The row at a position, or, when a collapsed row hides it, the outermost collapsed row above it.
  QModelIndex nearestShown(int position) const;
  bool collapsed(const QModelIndex& index) const;
  // The rows a user sees, top to bottom (collapsed rows hide their descendants).
  std::vector<QModelIndex> shownRows() const;
  std::string rowText(const QModelIndex& index) const;  // the row's texts, tab-separated
  // Opens and closes the view's rows as their levels say.
  void applyExpansion(QTreeView* view) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Node;
  struct Reading;

  Node* nodeOf(const QModelIndex& index) const;
  QModelIndex indexOfNode(const Node* node, int column = 0) const;
  void reconcile(Node& parent, Reading& in, std::span<const int> wanted);
  std::unique_ptr<Node> build(Node* parent, Reading& in, std::size_t row);
  void renumber(Node& parent, std::size_t from);  // rows of the children from `from` on
  void reorder();
  QString cellText(const std::vector<Cell>& row, const ListColumn& c) const;
  // The row's first text, as the source gives it; a number's digits go into numberKeys (room for
  // `rows` of them, so that the views already taken stay valid).
  std::string_view keyOf(const std::vector<Cell>& row, std::vector<std::string>& numberKeys,
                         std::size_t rows) const;
  std::int64_t cellNumber(const std::vector<Cell>& row, int cell) const;
  std::int64_t levelOf(const std::vector<Cell>& row) const;

  ListFormat format_;
  std::shared_ptr<ListSource> source_;
  std::function<void(int)> markToggled_;
  std::vector<QIcon> icons_;
  std::unique_ptr<Node> root_;
  std::vector<Node*> order_;  // every row in the source's order
  std::uint64_t version_ = 0;
  bool loaded_ = false;
};

// A list's view: the tree's branch lines and arrows are left out, since rows open and close by the
// program's own gestures (a double-click on the remote tree), not by clicking an arrow.
class ListView final : public QTreeView {
 public:
  using QTreeView::QTreeView;

 protected:
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
};

}  // namespace ui::detail
