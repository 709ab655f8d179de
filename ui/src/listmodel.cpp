// List models over queues.
#include "listmodel.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <span>
#include <string_view>
#include <unordered_map>

#include "qtext.h"

namespace ui::detail {

struct ListModel::Node {
  std::vector<Cell> cells;
  std::string key;
  Node* parent = nullptr;
  int row = 0;       // among its parent's children
  int position = 0;  // in the source, from 1
  std::vector<std::unique_ptr<Node>> children;
};

// The rows of the source as they are read: their cells, their keys and, for each row, the rows that
// belong under it, all in flat arrays (a refresh of 100,000 rows allocates a handful of blocks, not
// one per row).
struct ListModel::Reading {
  std::vector<std::vector<Cell>> rows;
  std::vector<std::string_view> keys;  // into the rows' cells (or numberKeys), which stay put
  std::vector<std::string> numberKeys;
  std::vector<int> childStart;  // the children of row r are children[childStart[r] .. childStart[r + 1])
  std::vector<int> children;
  bool changedShape = false;  // rows were inserted or removed

  std::span<const int> under(std::size_t row) const {
    return {children.data() + childStart[row], children.data() + childStart[row + 1]};
  }
};

ListModel::ListModel(const ListFormat& format, QObject* parent)
    : QAbstractItemModel(parent), format_(format), root_(std::make_unique<Node>()) {}

ListModel::~ListModel() = default;

void ListModel::setSource(std::shared_ptr<ListSource> source) {
  source_ = std::move(source);
  loaded_ = false;
  refresh();
}

void ListModel::setIcons(std::vector<QIcon> icons) {
  icons_ = std::move(icons);
  for (Node* n : order_) {
    const QModelIndex i = indexOfNode(n);
    emit dataChanged(i, i, {Qt::DecorationRole});
  }
}

void ListModel::showMarks(std::function<void(int position)> toggled) {
  markToggled_ = std::move(toggled);
  for (Node* n : order_) {
    const QModelIndex i = indexOfNode(n);
    emit dataChanged(i, i, {Qt::CheckStateRole});
  }
}

bool ListModel::marked(const QModelIndex& index) const {
  const Node* n = nodeOf(index);
  return n && cellNumber(n->cells, format_.cellCount) != 0;
}

std::int64_t ListModel::levelOf(const std::vector<Cell>& row) const {
  if (format_.treeColumn < 0) return 1;
  return cellNumber(row, format_.columns[static_cast<std::size_t>(format_.treeColumn)].levelCell);
}

bool ListModel::refresh() {
  if (!source_) return false;
  const std::uint64_t v = source_->version();
  if (loaded_ && v == version_) return false;
  // The version is read before the rows: a change made meanwhile moves it again, so the next
  // refresh reads once more rather than missing it.
  Reading in;
  in.rows = source_->rows();
  version_ = v;
  loaded_ = true;
  const std::size_t n = in.rows.size();
  // Each row goes under the nearest row before it whose level is smaller; the top rows go under a
  // row of their own, numbered n.
  std::vector<int> parentOf(n);
  std::vector<std::pair<std::int64_t, int>> open;  // levels and rows of the path to the last row
  in.childStart.assign(n + 2, 0);
  in.keys.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t level = std::max<std::int64_t>(1, std::llabs(levelOf(in.rows[i])));
    while (!open.empty() && open.back().first >= level) open.pop_back();
    parentOf[i] = open.empty() ? static_cast<int>(n) : open.back().second;
    ++in.childStart[static_cast<std::size_t>(parentOf[i]) + 1];
    open.emplace_back(level, static_cast<int>(i));
    in.keys[i] = keyOf(in.rows[i], in.numberKeys, n);
  }
  for (std::size_t r = 1; r < in.childStart.size(); ++r) in.childStart[r] += in.childStart[r - 1];
  in.children.resize(n);
  std::vector<int> filled(in.childStart.begin(), in.childStart.end() - 1);
  for (std::size_t i = 0; i < n; ++i)
    in.children[static_cast<std::size_t>(filled[static_cast<std::size_t>(parentOf[i])]++)] =
        static_cast<int>(i);
  reconcile(*root_, in, in.under(n));
  // Positions change only when rows came or went.
  if (in.changedShape || order_.size() != n) reorder();
  return true;
}

// The children of `parent` become those `wanted` names: a child whose key comes again keeps its
// place and its own children are reconciled; the others are removed, the new ones inserted, each
// run of them at once. The children that stay in step at the start and at the end are matched by
// their keys alone, so a rename, an insertion or a removal among 100,000 rows costs what it touches
// and no index of every key.
void ListModel::reconcile(Node& parent, Reading& in, std::span<const int> wanted) {
  auto& kids = parent.children;
  if (kids.empty() && wanted.empty()) return;
  const QModelIndex parentIndex = &parent == root_.get() ? QModelIndex() : indexOfNode(&parent);
  auto keyAt = [&](std::size_t k) -> const std::string& { return kids[k]->key; };
  auto rowAt = [&](std::size_t k) { return static_cast<std::size_t>(wanted[k]); };
  auto keyOfWanted = [&](std::size_t k) { return in.keys[rowAt(k)]; };
  // A child that stays: its cells as the source has them now, its own children reconciled.
  auto keep = [&](Node& n, std::size_t row) {
    if (n.cells != in.rows[row]) {
      n.cells = std::move(in.rows[row]);
      emit dataChanged(indexOfNode(&n, 0), indexOfNode(&n, columnCount() - 1));
    }
    reconcile(n, in, in.under(row));
  };
  std::size_t tail = 0;
  while (tail < kids.size() && tail < wanted.size() &&
         keyAt(kids.size() - 1 - tail) == keyOfWanted(wanted.size() - 1 - tail))
    ++tail;
  const std::size_t wantedEnd = wanted.size() - tail;
  auto kidsEnd = [&] { return kids.size() - tail; };

  std::unordered_map<std::string_view, int> ahead;  // keys of the wanted rows not reached yet
  bool counted = false;                             // counted at the first row out of step, not before
  std::size_t i = 0, j = 0;
  while (j < wantedEnd) {
    if (i < kidsEnd() && keyAt(i) == keyOfWanted(j)) {
      keep(*kids[i], rowAt(j));
      if (counted) --ahead[keyOfWanted(j)];
      ++i, ++j;
      continue;
    }
    if (!counted) {
      ahead.reserve(wantedEnd - j);
      for (std::size_t k = j; k < wantedEnd; ++k) ++ahead[keyOfWanted(k)];
      counted = true;
    }
    // Children that no wanted row names any more go, as one run.
    std::size_t end = i;
    auto wantedLater = [&](std::size_t k) {
      const auto it = ahead.find(keyAt(k));
      return it != ahead.end() && it->second > 0;
    };
    while (end < kidsEnd() && !wantedLater(end)) ++end;
    if (end > i) {
      in.changedShape = true;
      beginRemoveRows(parentIndex, static_cast<int>(i), static_cast<int>(end) - 1);
      kids.erase(kids.begin() + static_cast<std::ptrdiff_t>(i),
                 kids.begin() + static_cast<std::ptrdiff_t>(end));
      renumber(parent, i);
      endRemoveRows();
      continue;
    }
    // Wanted rows up to the next one the present child stands for come in, as one run.
    std::size_t last = j;
    while (last < wantedEnd && (i >= kidsEnd() || keyAt(i) != keyOfWanted(last))) ++last;
    if (last == j) continue;
    in.changedShape = true;
    beginInsertRows(parentIndex, static_cast<int>(i), static_cast<int>(i + (last - j)) - 1);
    std::vector<std::unique_ptr<Node>> fresh;
    fresh.reserve(last - j);
    for (std::size_t k = j; k < last; ++k) {
      --ahead[keyOfWanted(k)];
      fresh.push_back(build(&parent, in, rowAt(k)));
    }
    kids.insert(kids.begin() + static_cast<std::ptrdiff_t>(i), std::make_move_iterator(fresh.begin()),
                std::make_move_iterator(fresh.end()));
    renumber(parent, i);
    endInsertRows();
    i += last - j;
    j = last;
  }
  if (i < kidsEnd()) {
    in.changedShape = true;
    const std::size_t end = kidsEnd();
    beginRemoveRows(parentIndex, static_cast<int>(i), static_cast<int>(end) - 1);
    kids.erase(kids.begin() + static_cast<std::ptrdiff_t>(i),
               kids.begin() + static_cast<std::ptrdiff_t>(end));
    renumber(parent, i);
    endRemoveRows();
  }
  for (std::size_t k = 0; k < tail; ++k) keep(*kids[kids.size() - tail + k], rowAt(wantedEnd + k));
}

std::unique_ptr<ListModel::Node> ListModel::build(Node* parent, Reading& in, std::size_t row) {
  auto n = std::make_unique<Node>();
  n->parent = parent;
  // Each row of the source is taken once: its cells move into the node, its key is copied.
  n->key = in.keys[row];
  n->cells = std::move(in.rows[row]);
  const std::span<const int> under = in.under(row);
  n->children.reserve(under.size());
  for (int child : under) n->children.push_back(build(n.get(), in, static_cast<std::size_t>(child)));
  renumber(*n, 0);
  return n;
}

void ListModel::renumber(Node& parent, std::size_t from) {
  for (std::size_t k = from; k < parent.children.size(); ++k) parent.children[k]->row = static_cast<int>(k);
}

void ListModel::reorder() {
  order_.clear();
  std::vector<Node*> stack;
  for (auto it = root_->children.rbegin(); it != root_->children.rend(); ++it) stack.push_back(it->get());
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    order_.push_back(n);
    n->position = static_cast<int>(order_.size());
    for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back(it->get());
  }
}

ListModel::Node* ListModel::nodeOf(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return nullptr;
  return static_cast<Node*>(index.internalPointer());
}

QModelIndex ListModel::indexOfNode(const Node* node, int column) const {
  if (!node || node == root_.get()) return {};
  return createIndex(node->row, column, const_cast<Node*>(node));
}

QModelIndex ListModel::indexOf(int position, int column) const {
  if (position < 1 || position > sourceCount()) return {};
  return indexOfNode(order_[static_cast<std::size_t>(position - 1)], column);
}

int ListModel::positionOf(const QModelIndex& index) const {
  const Node* n = nodeOf(index);
  return n ? n->position : 0;
}

bool ListModel::collapsed(const QModelIndex& index) const {
  const Node* n = nodeOf(index);
  return n && levelOf(n->cells) < 0;
}

QModelIndex ListModel::nearestShown(int position) const {
  if (position < 1 || position > sourceCount()) return {};
  const Node* shown = order_[static_cast<std::size_t>(position - 1)];
  for (const Node* up = shown->parent; up && up != root_.get(); up = up->parent)
    if (levelOf(up->cells) < 0) shown = up;
  return indexOfNode(shown);
}

std::vector<QModelIndex> ListModel::shownRows() const {
  std::vector<QModelIndex> out;
  std::vector<const Node*> stack;
  for (auto it = root_->children.rbegin(); it != root_->children.rend(); ++it) stack.push_back(it->get());
  while (!stack.empty()) {
    const Node* n = stack.back();
    stack.pop_back();
    out.push_back(indexOfNode(n));
    if (levelOf(n->cells) < 0) continue;
    for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back(it->get());
  }
  return out;
}

void ListModel::applyExpansion(QTreeView* view) const {
  for (const Node* n : order_)
    if (!n->children.empty()) view->setExpanded(indexOfNode(n), levelOf(n->cells) >= 0);
}

std::string ListModel::rowText(const QModelIndex& index) const {
  const Node* n = nodeOf(index);
  if (!n) return {};
  std::string out;
  for (std::size_t c = 0; c < format_.columns.size(); ++c) {
    if (c) out += '\t';
    out += ss(cellText(n->cells, format_.columns[c]));
  }
  return out;
}

QModelIndex ListModel::index(int row, int column, const QModelIndex& parent) const {
  if (column < 0 || column >= columnCount() || row < 0) return {};
  const Node* p = parent.isValid() ? nodeOf(parent) : root_.get();
  if (!p || row >= static_cast<int>(p->children.size())) return {};
  return createIndex(row, column, p->children[static_cast<std::size_t>(row)].get());
}

QModelIndex ListModel::parent(const QModelIndex& child) const {
  const Node* n = nodeOf(child);
  return n ? indexOfNode(n->parent) : QModelIndex();
}

int ListModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const Node* p = parent.isValid() ? nodeOf(parent) : root_.get();
  return p ? static_cast<int>(p->children.size()) : 0;
}

int ListModel::columnCount(const QModelIndex&) const { return static_cast<int>(format_.columns.size()); }

std::int64_t ListModel::cellNumber(const std::vector<Cell>& row, int cell) const {
  if (cell < 0 || cell >= static_cast<int>(row.size())) return 0;
  if (const auto* n = std::get_if<std::int64_t>(&row[static_cast<std::size_t>(cell)])) return *n;
  return std::strtoll(std::get<std::string>(row[static_cast<std::size_t>(cell)]).c_str(), nullptr, 10);
}

QString ListModel::cellText(const std::vector<Cell>& row, const ListColumn& c) const {
  if (c.textCell >= static_cast<int>(row.size())) return {};
  const Cell& cell = row[static_cast<std::size_t>(c.textCell)];
  if (const auto* n = std::get_if<std::int64_t>(&cell))
    return qs(applyPicture(c.picture, std::to_string(*n)));
  return qs(applyPicture(c.picture, std::get<std::string>(cell)));
}

std::string_view ListModel::keyOf(const std::vector<Cell>& row, std::vector<std::string>& numberKeys,
                                  std::size_t rows) const {
  const int cell = format_.columns.empty() ? -1 : format_.columns.front().textCell;
  if (cell < 0 || cell >= static_cast<int>(row.size())) return {};
  if (const auto* s = std::get_if<std::string>(&row[static_cast<std::size_t>(cell)])) return *s;
  // A number as its digits, kept where the views of the others stay valid.
  if (numberKeys.capacity() < rows) numberKeys.reserve(rows);
  return numberKeys.emplace_back(std::to_string(std::get<std::int64_t>(row[static_cast<std::size_t>(cell)])));
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  const Node* n = nodeOf(index);
  if (!n || index.column() >= static_cast<int>(format_.columns.size())) return {};
  const ListColumn& c = format_.columns[static_cast<std::size_t>(index.column())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return cellText(n->cells, c);
    case Qt::DecorationRole: {
      if (!c.icon) return {};
      const std::int64_t k = cellNumber(n->cells, c.iconCell);
      if (k < 1 || k > static_cast<std::int64_t>(icons_.size())) return {};
      return icons_[static_cast<std::size_t>(k - 1)];
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignVCenter | (c.align == 'R' || c.align == 'D' ? Qt::AlignRight
                                                     : c.align == 'C'                 ? Qt::AlignHCenter
                                                                                      : Qt::AlignLeft));
    case Qt::CheckStateRole:
      if (!showsMarks() || index.column() != 0) return {};
      return marked(index) ? Qt::Checked : Qt::Unchecked;
    default:
      return {};
  }
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractItemModel::flags(index);
  if (showsMarks() && index.isValid() && index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool ListModel::setData(const QModelIndex& index, const QVariant&, int role) {
  if (role != Qt::CheckStateRole || !showsMarks() || !nodeOf(index) || index.column() != 0) return false;
  markToggled_(positionOf(index));
  // Taken: the key or click has been used (a Space not taken would go on to move the highlight).
  return true;
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(format_.columns.size()))
    return {};
  if (role == Qt::DisplayRole) return qs(format_.columns[static_cast<std::size_t>(section)].header);
  return {};
}

void ListView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const {
  // The highlight still spans the whole row, indentation included.
  if (selectionModel() && selectionModel()->isSelected(index))
    painter->fillRect(
        rect, palette().brush(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight));
}

}  // namespace ui::detail
