// A Qt generic plugin that end-to-end tests load into the real program
// (QT_QPA_GENERIC_PLUGINS=vtuiprobe:<folder>) to see what the user sees: on
// each request it writes every top-level window and its visible widgets, with
// their texts, states and screen rectangles, as JSON. It only observes; all
// input reaches the program through the X server, as a person's would.
//
// Protocol: the test creates <folder>/request; within 50 ms the file is
// removed and <folder>/snapshot.json appears (written beside it and renamed,
// so it is never read half written).

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGenericPlugin>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTreeWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

namespace {

QJsonObject Rect(const QWidget* w, const QRect& local) {
    const QPoint at = w->mapToGlobal(local.topLeft());
    return {{"x", at.x()}, {"y", at.y()}, {"w", local.width()}, {"h", local.height()}};
}

QJsonArray Actions(const QWidget* w, const std::function<QRect(QAction*)>& geometry) {
    QJsonArray out;
    for (QAction* a : w->actions()) {
        if (a->isSeparator() || !a->isVisible())
            continue;
        out.append(QJsonObject{{"text", a->text()},
                               {"enabled", a->isEnabled()},
                               {"rect", Rect(w, geometry(a))}});
    }
    return out;
}

QJsonObject Describe(QWidget* w) {
    QJsonObject o{{"class", QString::fromLatin1(w->metaObject()->className())},
                  {"name", w->objectName()},
                  {"enabled", w->isEnabled()},
                  {"focus", w->hasFocus()},
                  {"rect", Rect(w, w->rect())}};
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        o["text"] = b->text();
        o["checked"] = b->isChecked();
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        o["text"] = l->text();
        // A picture shows as its size: that it decoded, not what it shows.
        if (!l->pixmap().isNull())
            o["pixmap"] = QJsonObject{{"w", l->pixmap().width()}, {"h", l->pixmap().height()}};
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        o["text"] = e->text();
        o["readonly"] = e->isReadOnly();
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        o["text"] = c->currentText();
        o["index"] = c->currentIndex();
        QJsonArray items;
        for (int i = 0; i < c->count(); ++i)
            items.append(c->itemText(i));
        o["items"] = items;
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        o["text"] = g->title();
    } else if (auto* t = qobject_cast<QTabWidget*>(w)) {
        o["index"] = t->currentIndex();
        o["text"] = t->tabText(t->currentIndex());
        QJsonArray tabs;
        for (int i = 0; i < t->count(); ++i) {
            tabs.append(QJsonObject{{"text", t->tabText(i)},
                                    {"rect", Rect(t->tabBar(), t->tabBar()->tabRect(i))}});
        }
        o["tabs"] = tabs;
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        o["index"] = list->currentRow();
        QJsonArray items;
        for (int i = 0; i < list->count(); ++i) {
            QListWidgetItem* item = list->item(i);
            items.append(QJsonObject{
                {"text", item->text()},
                {"rect", Rect(list->viewport(), list->visualItemRect(item))}});
        }
        o["items"] = items;
    } else if (auto* tree = qobject_cast<QTreeWidget*>(w)) {
        o["index"] = tree->indexOfTopLevelItem(tree->currentItem());
        QJsonArray items;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = tree->topLevelItem(i);
            QJsonArray cells;
            for (int c = 0; c < tree->columnCount(); ++c)
                cells.append(item->text(c));
            items.append(QJsonObject{{"text", item->text(0)},
                                     {"cells", cells},
                                     {"rect", Rect(tree->viewport(), tree->visualItemRect(item))}});
        }
        o["items"] = items;
    } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
        o["text"] = p->toPlainText();
    } else if (auto* bar = qobject_cast<QMenuBar*>(w)) {
        o["actions"] = Actions(bar, [bar](QAction* a) { return bar->actionGeometry(a); });
    } else if (auto* menu = qobject_cast<QMenu*>(w)) {
        o["actions"] = Actions(menu, [menu](QAction* a) { return menu->actionGeometry(a); });
    }
    return o;
}

QJsonObject Window(QWidget* top) {
    // A hidden window is only named: asking it for geometry can create or
    // move native state behind the program's back (a hidden tray menu's
    // geometry did).
    QJsonObject o = top->isVisible()
                        ? Describe(top)
                        : QJsonObject{{"class", QString::fromLatin1(top->metaObject()->className())},
                                      {"name", top->objectName()}};
    o["title"] = top->windowTitle();
    o["visible"] = top->isVisible();
    o["minimized"] = top->isMinimized();
    o["active"] = top->isActiveWindow();
    o["modal"] = top->isModal();
    if (auto* box = qobject_cast<QMessageBox*>(top))
        o["text"] = box->text();
    QJsonArray children;
    if (top->isVisible()) {
        for (QWidget* w : top->findChildren<QWidget*>()) {
            if (w->isVisible() && !w->isWindow())
                children.append(Describe(w));
        }
    }
    o["widgets"] = children;
    return o;
}

class Probe : public QObject {
  public:
    explicit Probe(const QString& folder) : folder_(folder) {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start();
    }

  private:
    void Poll() {
        const QString request = QDir(folder_).filePath(QStringLiteral("request"));
        if (!QFile::exists(request) || !qobject_cast<QApplication*>(QCoreApplication::instance()))
            return;
        QFile::remove(request);
        QJsonArray windows;
        for (QWidget* top : QApplication::topLevelWidgets())
            windows.append(Window(top));
        QSaveFile out(QDir(folder_).filePath(QStringLiteral("snapshot.json")));
        if (out.open(QIODevice::WriteOnly)) {
            out.write(QJsonDocument(windows).toJson(QJsonDocument::Compact));
            out.commit();
        }
    }

    QString folder_;
    QTimer timer_;
};

}  // namespace

class UiProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "ui_probe.json")
  public:
    QObject* create(const QString& key, const QString& folder) override {
        if (key.compare(QLatin1String("vtuiprobe"), Qt::CaseInsensitive) != 0 ||
            folder.isEmpty())
            return nullptr;
        return new Probe(folder);
    }
};

#include "ui_probe.moc"
