#include "server/ui/WorkspaceMonitor.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QTreeWidgetItemIterator>

namespace halvard::ui {

namespace {

constexpr int kIconSize = 16;

/// One image of the strip: a small drawing per depth, brighter when selected.
QPixmap DrawIcon(int depth, bool selected) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink = selected ? QColor(0, 90, 200) : QColor(60, 60, 60);
  const QColor fill = selected ? QColor(150, 200, 255) : QColor(220, 220, 220);
  p.setPen(QPen(ink, 1));
  p.setBrush(fill);
  switch (depth) {
    case kDepthRoot:  // a rack of devices
      p.drawRect(2, 2, 12, 4);
      p.drawRect(2, 9, 12, 4);
      break;
    case kDepthGroup:  // a capture card
      p.drawRect(1, 4, 14, 8);
      p.setBrush(ink);
      for (int x = 3; x < 14; x += 3) {
        p.drawRect(x, 12, 1, 2);
      }
      break;
    case kDepthInput: {  // a camera
      p.drawRoundedRect(1, 5, 10, 7, 1, 1);
      QPainterPath lens;
      lens.moveTo(11, 7);
      lens.lineTo(15, 4);
      lens.lineTo(15, 13);
      lens.lineTo(11, 10);
      lens.closeSubpath();
      p.drawPath(lens);
      break;
    }
    case kDepthDay:  // a folder
      p.drawRect(1, 5, 14, 9);
      p.drawRect(1, 3, 6, 2);
      break;
    case kDepthFile:  // a film strip
      p.drawRect(2, 1, 12, 14);
      p.setBrush(ink);
      for (int y = 3; y < 14; y += 3) {
        p.drawRect(3, y, 1, 1);
        p.drawRect(12, y, 1, 1);
      }
      break;
    default:  // a picture
      p.drawRect(1, 2, 14, 12);
      p.setBrush(ink);
      p.drawEllipse(QPointF(5, 6), 1.5, 1.5);
      QPainterPath hill;
      hill.moveTo(2, 13);
      hill.lineTo(7, 8);
      hill.lineTo(10, 11);
      hill.lineTo(12, 9);
      hill.lineTo(14, 13);
      hill.closeSubpath();
      p.drawPath(hill);
      break;
  }
  return pixmap;
}

}  // namespace

std::vector<QIcon> WorkspaceIconStrip() {
  std::vector<QIcon> strip;
  for (int depth = 0; depth < kDepthCount; ++depth) {
    strip.emplace_back(DrawIcon(depth, false));
    strip.emplace_back(DrawIcon(depth, true));
  }
  return strip;
}

CWorkspaceMonitor::CWorkspaceMonitor(TextFunction texts, QWidget* parent)
    : QTreeWidget(parent), m_texts(std::move(texts)), m_icons(WorkspaceIconStrip()) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setIconSize(QSize(kIconSize, kIconSize));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  setExpandsOnDoubleClick(false);
  // Long archive names scroll sideways instead of being cut.
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) { RunDoubleClick(item); });
  // The selected image replaces the item's image while it is selected.
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* now, QTreeWidgetItem* before) {
    if (before != nullptr) {
      before->setIcon(0, m_icons[static_cast<std::size_t>(ImageOf(DepthOf(before)))]);
    }
    if (now != nullptr) {
      now->setIcon(0, m_icons[static_cast<std::size_t>(SelectedImageOf(DepthOf(now)))]);
    }
  });
}

int CWorkspaceMonitor::DepthOf(const QTreeWidgetItem* item) {
  return item != nullptr ? item->data(0, kDepthRole).toInt() : -1;
}

std::vector<std::string> CWorkspaceMonitor::NamesOf(const QTreeWidgetItem* item) {
  std::vector<std::string> names;
  for (const QTreeWidgetItem* i = item; i != nullptr && DepthOf(i) > kDepthRoot; i = i->parent()) {
    names.insert(names.begin(), i->text(0).toStdString());
  }
  return names;
}

QTreeWidgetItem* CWorkspaceMonitor::FindItem(const std::vector<std::string>& names) const {
  QTreeWidgetItem* item = Root();
  for (const std::string& name : names) {
    if (item == nullptr) {
      return nullptr;
    }
    QTreeWidgetItem* next = nullptr;
    const QString text = QString::fromStdString(name);
    for (int i = 0; i < item->childCount(); ++i) {
      if (item->child(i)->text(0) == text) {
        next = item->child(i);
        break;
      }
    }
    item = next;
  }
  return item;
}

void CWorkspaceMonitor::InsertSorted(QTreeWidgetItem* parent, QTreeWidgetItem* item) {
  const std::string text = item->text(0).toStdString();
  int at = 0;
  while (at < parent->childCount() && !TreeTextLess(text, parent->child(at)->text(0).toStdString())) {
    ++at;
  }
  parent->insertChild(at, item);
}

QTreeWidgetItem* CWorkspaceMonitor::AddNode(QTreeWidgetItem* parent, const TreeNode& node) {
  auto* item = new QTreeWidgetItem;
  item->setText(0, QString::fromStdString(node.text));
  item->setData(0, kDepthRole, node.depth);
  item->setIcon(0, m_icons[static_cast<std::size_t>(ImageOf(std::min(node.depth, kDepthStill)))]);
  if (parent == nullptr) {
    addTopLevelItem(item);
  } else {
    InsertSorted(parent, item);
  }
  for (const TreeNode& child : node.children) {
    AddNode(item, child);
  }
  return item;
}

void CWorkspaceMonitor::Rebuild(const std::vector<std::string>& groups) {
  // A rebuild after a rotation or a clean-up keeps open what the operator opened.
  std::vector<std::vector<std::string>> expanded;
  for (QTreeWidgetItemIterator it(this); *it != nullptr; ++it) {
    if ((*it)->isExpanded() && DepthOf(*it) > kDepthGroup) {
      expanded.push_back(NamesOf(*it));
    }
  }
  clear();
  const TreeNode tree = BuildWorkspaceTree(m_texts(kIdsTreeRoot), groups);
  QTreeWidgetItem* root = AddNode(nullptr, tree);
  root->setExpanded(true);
  for (const auto& names : expanded) {
    if (QTreeWidgetItem* item = FindItem(names)) {
      item->setExpanded(true);
    }
  }
  QTreeWidgetItem* last = nullptr;
  for (const std::string& group : groups) {
    last = FindItem({group});
    if (last != nullptr) {
      last->setExpanded(true);
    }
  }
  setCurrentItem(last != nullptr ? last : root);
}

void CWorkspaceMonitor::RefreshGroup(const std::string& group) {
  QTreeWidgetItem* root = Root();
  if (root == nullptr) {
    return;
  }
  if (QTreeWidgetItem* old = FindItem({group})) {
    delete old;
  }
  QTreeWidgetItem* item = AddNode(root, BuildGroupNode(group));
  item->setExpanded(true);
  setCurrentItem(item);
}

void CWorkspaceMonitor::RefreshInput(const std::string& group, const std::string& input) {
  QTreeWidgetItem* groupItem = FindItem({group});
  if (groupItem == nullptr) {
    return;
  }
  const bool wasExpanded = FindItem({group, input}) != nullptr && FindItem({group, input})->isExpanded();
  delete FindItem({group, input});
  QTreeWidgetItem* item = AddNode(groupItem, BuildInputNode(group, input));
  item->setExpanded(wasExpanded);
}

std::vector<std::pair<UINT, std::string>> CWorkspaceMonitor::MenuOf(QTreeWidgetItem* item) const {
  std::vector<std::pair<UINT, std::string>> menu;
  for (const MenuEntry& entry : ContextMenuOf(DepthOf(item))) {
    if (entry.IsSeparator()) {
      menu.emplace_back(0, std::string());
    } else {
      menu.emplace_back(entry.command, m_labels ? m_labels(entry, item) : m_texts(entry.label));
    }
  }
  return menu;
}

void CWorkspaceMonitor::ShowMenu(QTreeWidgetItem* item, const QPoint& globalPos) {
  setCurrentItem(item);
  QMenu menu(this);
  for (const auto& [command, label] : MenuOf(item)) {
    if (command == 0) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromStdString(label));
    const std::string prompt = m_texts(command);
    action->setStatusTip(QString::fromStdString(prompt.substr(0, prompt.find('\n'))));
    const UINT id = command;
    connect(action, &QAction::triggered, this, [this, id, item] {
      if (m_handler) {
        m_handler(id, item);
      }
    });
  }
  menu.exec(globalPos);
}

void CWorkspaceMonitor::RunDoubleClick(QTreeWidgetItem* item) {
  const UINT command = DoubleClickCommand(DepthOf(item));
  if (command != 0 && m_handler) {
    setCurrentItem(item);
    m_handler(command, item);
  }
}

bool CWorkspaceMonitor::OnIconOrLabel(QTreeWidgetItem* item, const QPoint& viewportPos) const {
  const QRect row = visualItemRect(item);
  // The icon and the label start at the row's left (after the indentation) and end with
  // the text; the empty rest of the row does not count.
  const int labelEnd = row.left() + iconSize().width() + 8 + fontMetrics().horizontalAdvance(item->text(0));
  return row.contains(viewportPos) && viewportPos.x() <= labelEnd;
}

void CWorkspaceMonitor::contextMenuEvent(QContextMenuEvent* event) {
  if (event->reason() == QContextMenuEvent::Keyboard) {
    QTreeWidgetItem* item = currentItem();
    if (item == nullptr) {
      return;
    }
    const QRect rect = visualItemRect(item);
    const QPoint at = rect.topLeft() + QPoint(iconSize().width() + 4, 0) + QPoint(15, 8);
    ShowMenu(item, viewport()->mapToGlobal(at));
    return;
  }
  const QPoint pos = viewport()->mapFromGlobal(event->globalPos());
  QTreeWidgetItem* item = itemAt(pos);
  if (item == nullptr || !OnIconOrLabel(item, pos)) {
    return;
  }
  ShowMenu(item, event->globalPos());
}

}  // namespace halvard::ui
