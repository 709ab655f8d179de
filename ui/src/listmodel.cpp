// List models over queues.
#include "listmodel.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "qtext.h"

namespace ui::detail {

ListModel::ListModel(const ListFormat& format, double unitX, QObject* parent)
    : QAbstractTableModel(parent), format_(format), unitX_(unitX) {}

void ListModel::setSource(std::shared_ptr<ListSource> source) {
  source_ = std::move(source);
  loaded_ = false;
  refresh();
}

void ListModel::setIcons(std::vector<QIcon> icons) {
  icons_ = std::move(icons);
  if (!visible_.empty())
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DecorationRole});
}

void ListModel::showMarks(std::function<void(int viewRow)> toggled) {
  markToggled_ = std::move(toggled);
  if (!visible_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

bool ListModel::marked(int viewRow) const {
  if (viewRow < 0 || viewRow >= static_cast<int>(visible_.size())) return false;
  return cellNumber(rows_[static_cast<std::size_t>(visible_[static_cast<std::size_t>(viewRow)])],
                    format_.cellCount) != 0;
}

bool ListModel::refresh() {
  if (!source_) return false;
  const std::uint64_t v = source_->version();
  if (loaded_ && v == version_) return false;
  // The version is read before the rows: a change made meanwhile moves it again, so the next
  // refresh reads once more rather than missing it.
  beginResetModel();
  rows_ = source_->rows();
  version_ = v;
  loaded_ = true;
  visible_.clear();
  visible_.reserve(rows_.size());
  const int levelCell = format_.treeColumn >= 0 ? format_.columns[format_.treeColumn].levelCell : -1;
  std::int64_t hideBelow = -1;  // absolute level of the collapsed node whose descendants are hidden
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (levelCell < 0) {
      visible_.push_back(static_cast<int>(i));
      continue;
    }
    const std::int64_t level = cellNumber(rows_[i], levelCell);
    const std::int64_t abs = level < 0 ? -level : level;
    if (hideBelow >= 0 && abs > hideBelow) continue;
    hideBelow = level < 0 ? abs : -1;
    visible_.push_back(static_cast<int>(i));
  }
  endResetModel();
  return true;
}

int ListModel::viewRowOf(int position) const {
  const int index = position - 1;
  auto it = std::lower_bound(visible_.begin(), visible_.end(), index);
  if (it == visible_.end() || *it != index) return -1;
  return static_cast<int>(it - visible_.begin());
}

int ListModel::nearestViewRow(int position) const {
  auto it = std::upper_bound(visible_.begin(), visible_.end(), position - 1);
  if (it == visible_.begin()) return visible_.empty() ? -1 : 0;
  return static_cast<int>(it - visible_.begin()) - 1;
}

int ListModel::positionOf(int viewRow) const {
  if (viewRow < 0 || viewRow >= static_cast<int>(visible_.size())) return 0;
  return visible_[static_cast<std::size_t>(viewRow)] + 1;
}

std::string ListModel::rowText(int viewRow) const {
  if (viewRow < 0 || viewRow >= static_cast<int>(visible_.size())) return {};
  const auto& row = rows_[static_cast<std::size_t>(visible_[static_cast<std::size_t>(viewRow)])];
  std::string out;
  for (std::size_t c = 0; c < format_.columns.size(); ++c) {
    if (c) out += '\t';
    out += ss(cellText(row, format_.columns[c]));
  }
  return out;
}

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(visible_.size());
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(format_.columns.size());
}

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

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(visible_.size()) ||
      index.column() >= static_cast<int>(format_.columns.size()))
    return {};
  const auto& row = rows_[static_cast<std::size_t>(visible_[static_cast<std::size_t>(index.row())])];
  const ListColumn& c = format_.columns[static_cast<std::size_t>(index.column())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return cellText(row, c);
    case Qt::DecorationRole: {
      if (!c.icon) return {};
      const std::int64_t n = cellNumber(row, c.iconCell);
      if (n < 1 || n > static_cast<std::int64_t>(icons_.size())) return {};
      return icons_[static_cast<std::size_t>(n - 1)];
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignVCenter | (c.align == 'R' || c.align == 'D' ? Qt::AlignRight
                                                     : c.align == 'C'                 ? Qt::AlignHCenter
                                                                                      : Qt::AlignLeft));
    case Qt::CheckStateRole:
      if (!showsMarks() || index.column() != 0) return {};
      return marked(index.row()) ? Qt::Checked : Qt::Unchecked;
    case LevelRole: {
      const std::int64_t level = c.tree ? cellNumber(row, c.levelCell) : 1;
      return static_cast<int>(std::clamp<std::int64_t>(level < 0 ? -level : level, 1, 1000));
    }
    default:
      return {};
  }
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (showsMarks() && index.isValid() && index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool ListModel::setData(const QModelIndex& index, const QVariant&, int role) {
  if (role != Qt::CheckStateRole || !showsMarks() || !index.isValid() || index.column() != 0) return false;
  markToggled_(index.row());
  // Taken: the key or click has been used (a Space not taken would go on to move the highlight).
  return true;
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(format_.columns.size()))
    return {};
  if (role == Qt::DisplayRole) return qs(format_.columns[static_cast<std::size_t>(section)].header);
  return {};
}

TreeDelegate::TreeDelegate(int treeColumn, int indentPixels, QObject* parent)
    : QStyledItemDelegate(parent), treeColumn_(treeColumn), indent_(indentPixels) {}

void TreeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
  if (index.column() != treeColumn_) return QStyledItemDelegate::paint(painter, option, index);
  const int level = index.data(ListModel::LevelRole).toInt();
  QStyleOptionViewItem shifted(option);
  // The selection highlight still spans the whole cell; only the content moves in.
  QStyleOptionViewItem background(option);
  initStyleOption(&background, index);
  background.text.clear();
  background.icon = QIcon();
  const QWidget* widget = option.widget;
  QStyle* style = widget ? widget->style() : nullptr;
  if (style) style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
  shifted.rect.adjust((level - 1) * indent_, 0, 0, 0);
  shifted.state &= ~QStyle::State_Selected;
  if (option.state & QStyle::State_Selected) {
    shifted.palette.setColor(QPalette::Text, option.palette.color(QPalette::HighlightedText));
  }
  QStyledItemDelegate::paint(painter, shifted, index);
}

QSize TreeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize s = QStyledItemDelegate::sizeHint(option, index);
  if (index.column() == treeColumn_) s.rwidth() += (index.data(ListModel::LevelRole).toInt() - 1) * indent_;
  return s;
}

}  // namespace ui::detail
