#pragma once
// The browser with the extension, played for the program's socket through
// FakeHost; header only.

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <initializer_list>
#include <map>
#include <mutex>
#include <utility>

#include "tests/support/fake_host.h"

namespace vt::test {

// What the extension does in the browser, as far as the program can tell:
// tabs with a title and a field each; a text is applied to a tab at most
// once per session and sequence number, only after the text it names as its
// predecessor, with CR LF and CR as LF. The test
// closes tabs, takes fields away and lets the host die on the way back.
class FakeBrowser {
  public:
    struct Tab {
        QString title;
        QString field;
        bool has_field = true;
        std::map<QString, qint64> applied;  // highest sequence number per session
    };

    explicit FakeBrowser(std::initializer_list<std::pair<int, QString>> tabs) {
        for (const auto& [id, title] : tabs)
            tabs_[id].title = title;
    }

    FakeHost::Answer answer() {
        return [this](const QJsonObject& r) { return handle(r); };
    }
    QString field(int tab) {
        std::lock_guard lock(m_);
        return tabs_.count(tab) ? tabs_[tab].field : QString();
    }
    int delivers() {
        std::lock_guard lock(m_);
        return delivers_;
    }
    void without_field(int tab) {
        std::lock_guard lock(m_);
        tabs_[tab].has_field = false;
    }
    // After `n` more texts the tab is closed.
    void close_after(int tab, int n) {
        std::lock_guard lock(m_);
        close_tab_ = tab;
        close_after_ = delivers_ + n;
    }
    // After `n` more texts the tab shows another page, titled `title`.
    void retitle_after(int tab, int n, const QString& title) {
        std::lock_guard lock(m_);
        retitle_tab_ = tab;
        retitle_after_ = delivers_ + n;
        retitle_ = title;
    }
    // The text after `n` more ones is applied, but its answer never leaves:
    // the host died on the way back. Nothing is answered after it.
    void die_after(int n) {
        std::lock_guard lock(m_);
        die_after_ = delivers_ + n;
    }
    void revive() {
        std::lock_guard lock(m_);
        die_after_ = -1;
    }
    // The same page in a new tab: the form of another tab id.
    void reopen(int old_tab, int new_tab) {
        std::lock_guard lock(m_);
        tabs_[new_tab] = {tabs_[old_tab].title};
        tabs_.erase(old_tab);
    }

  private:
    QJsonObject handle(const QJsonObject& r) {
        std::lock_guard lock(m_);
        if (r.value("type") == "tabs") {
            QJsonArray list;
            for (const auto& [id, tab] : tabs_)
                list.append(QJsonObject{{"tab", id}, {"window", 1}, {"title", tab.title},
                                        {"active", true}, {"focused", true}});
            return QJsonObject{{"ok", true}, {"tabs", list}};
        }
        if (die_after_ >= 0 && delivers_ > die_after_)
            return {};
        ++delivers_;
        const int id = r.value("tab").toInt();
        if (close_tab_ == id && delivers_ > close_after_)
            tabs_.erase(id);
        if (retitle_tab_ == id && delivers_ > retitle_after_ && tabs_.count(id))
            tabs_[id].title = retitle_;
        // A tab that no longer carries the form's title is not the form.
        if (!tabs_.count(id) ||
            (r.contains("title") && !tabs_[id].title.contains(r.value("title").toString())))
            return QJsonObject{{"ok", false}, {"reason", "no-tab"}};
        Tab& tab = tabs_[id];
        if (!tab.has_field)
            return QJsonObject{{"ok", false}, {"reason", "no-field"}};
        const qint64 seq = r.value("seq").toInteger();
        const auto applied = tab.applied.find(r.value("session").toString());
        const bool any = applied != tab.applied.end();
        QJsonObject ok{{"ok", true}, {"seq", seq}};
        if (any && seq <= applied->second) {
            ok.insert("duplicate", true);
        } else if (r.contains("after") &&
                   (!any || r.value("after").toInteger() != applied->second)) {
            // Its predecessor is not in the tab: it must not go in without it.
            return QJsonObject{{"ok", false}, {"reason", "out-of-order"}};
        } else {
            tab.applied[r.value("session").toString()] = seq;
            QString text = r.value("text").toString();
            text.replace("\r\n", "\n").replace('\r', '\n');
            tab.field += text;
        }
        if (die_after_ >= 0 && delivers_ > die_after_)
            return {};
        return ok;
    }

    std::mutex m_;
    std::map<int, Tab> tabs_;
    int delivers_ = 0;
    int close_tab_ = -1;
    int close_after_ = 0;
    int die_after_ = -1;
    int retitle_tab_ = -1;
    int retitle_after_ = 0;
    QString retitle_;
};

}  // namespace vt::test
