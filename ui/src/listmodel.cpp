// List models over queues.
#include "listmodel.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>
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

// A row of the source as it is read, with the rows that belong under it.
struct ListModel::Spec {
  std::vector<Cell> cells;
  std::string key;
  std::vector<int> children;
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
  std::vector<std::vector<Cell>> rows = source_->rows();
  version_ = v;
  loaded_ = true;
  // Each row goes under the nearest row before it whose level is smaller.
  std::vector<Spec> specs(rows.size());
  std::vector<int> top;
  std::vector<std::pair<std::int64_t, int>> open;  // levels and rows of the path to the last row
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::int64_t level = std::max<std::int64_t>(1, std::llabs(levelOf(rows[i])));
    while (!open.empty() && open.back().first >= level) open.pop_back();
    (open.empty() ? top : specs[static_cast<std::size_t>(open.back().second)].children)
        .push_back(static_cast<int>(i));
    open.emplace_back(level, static_cast<int>(i));
    specs[i].key = keyOf(rows[i]);
    specs[i].cells = std::move(rows[i]);
  }
  reconcile(*root_, specs, top);
  reorder();
  return true;
}

// The children of `parent` become those `wanted` names: a child whose key comes again keeps its
// place and its own children are reconciled; the others are removed, the new ones inserted, each
// run of them at once. The children that stay in step at the start and at the end are matched by
// their keys alone, so a rename, an insertion or a removal among 100,000 rows costs what it touches
// and no index of every key.
void ListModel::reconcile(Node& parent, std::vector<Spec>& specs, const std::vector<int>& wanted) {
  auto& kids = parent.children;
  if (kids.empty() && wanted.empty()) return;
  const QModelIndex parentIndex = &parent == root_.get() ? QModelIndex() : indexOfNode(&parent);
  auto keyAt = [&](std::size_t k) -> const std::string& { return kids[k]->key; };
  auto specAt = [&](std::size_t k) -> Spec& { return specs[static_cast<std::size_t>(wanted[k])]; };
  // A child that stays: its cells as the source has them now, its own children reconciled.
  auto keep = [&](Node& n, Spec& spec) {
    if (n.cells != spec.cells) {
      n.cells = std::move(spec.cells);
      emit dataChanged(indexOfNode(&n, 0), indexOfNode(&n, columnCount() - 1));
    }
    reconcile(n, specs, spec.children);
  };
  std::size_t tail = 0;
  while (tail < kids.size() && tail < wanted.size() &&
         keyAt(kids.size() - 1 - tail) == specAt(wanted.size() - 1 - tail).key)
    ++tail;
  const std::size_t wantedEnd = wanted.size() - tail;
  auto kidsEnd = [&] { return kids.size() - tail; };

  std::unordered_map<std::string_view, int> ahead;  // keys of the wanted rows not reached yet
  bool counted = false;                             // counted at the first row out of step, not before
  std::size_t i = 0, j = 0;
  while (j < wantedEnd) {
    Spec& spec = specAt(j);
    if (i < kidsEnd() && keyAt(i) == spec.key) {
      keep(*kids[i], spec);
      if (counted) --ahead[spec.key];
      ++i, ++j;
      continue;
    }
    if (!counted) {
      ahead.reserve(wantedEnd - j);
      for (std::size_t k = j; k < wantedEnd; ++k) ++ahead[specAt(k).key];
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
      beginRemoveRows(parentIndex, static_cast<int>(i), static_cast<int>(end) - 1);
      kids.erase(kids.begin() + static_cast<std::ptrdiff_t>(i),
                 kids.begin() + static_cast<std::ptrdiff_t>(end));
      renumber(parent, i);
      endRemoveRows();
      continue;
    }
    // Wanted rows up to the next one the present child stands for come in, as one run.
    std::size_t last = j;
    while (last < wantedEnd && (i >= kidsEnd() || keyAt(i) != specAt(last).key)) ++last;
    if (last == j) continue;
    beginInsertRows(parentIndex, static_cast<int>(i), static_cast<int>(i + (last - j)) - 1);
    std::vector<std::unique_ptr<Node>> fresh;
    fresh.reserve(last - j);
    for (std::size_t k = j; k < last; ++k) {
      --ahead[specAt(k).key];
      fresh.push_back(build(&parent, specs, wanted[k]));
    }
    kids.insert(kids.begin() + static_cast<std::ptrdiff_t>(i), std::make_move_iterator(fresh.begin()),
                std::make_move_iterator(fresh.end()));
    renumber(parent, i);
    endInsertRows();
    i += last - j;
    j = last;
  }
  if (i < kidsEnd()) {
    const std::size_t end = kidsEnd();
    beginRemoveRows(parentIndex, static_cast<int>(i), static_cast<int>(end) - 1);
    kids.erase(kids.begin() + static_cast<std::ptrdiff_t>(i),
               kids.begin() + static_cast<std::ptrdiff_t>(end));
    renumber(parent, i);
    endRemoveRows();
  }
  for (std::size_t k = 0; k < tail; ++k) keep(*kids[kids.size() - tail + k], specAt(wantedEnd + k));
}

std::unique_ptr<ListModel::Node> ListModel::build(Node* parent, std::vector<Spec>& specs, int spec) {
  auto n = std::make_unique<Node>();
  n->parent = parent;
  // Each row of the source is taken once: its cells move into the node (its key stays, counted).
  n->cells = std::move(specs[static_cast<std::size_t>(spec)].cells);
  n->key = specs[static_cast<std::size_t>(spec)].key;
  for (int child : specs[static_cast<std::size_t>(spec)].children)
    n->children.push_back(build(n.get(), specs, child));
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

std::string ListModel::keyOf(const std::vector<Cell>& row) const {
  const int cell = format_.columns.empty() ? -1 : format_.columns.front().textCell;
  if (cell < 0 || cell >= static_cast<int>(row.size())) return {};
  if (const auto* n = std::get_if<std::int64_t>(&row[static_cast<std::size_t>(cell)]))
    return std::to_string(*n);
  return std::get<std::string>(row[static_cast<std::size_t>(cell)]);
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
