#ifndef PLINTH_TAB_H
#define PLINTH_TAB_H

#include <QHash>
#include <QList>
#include <QSharedDataPointer>
#include <QString>

class TabPrivate;

// One tab of the reader's navigation, with its child tabs. Shares its data
// with its copies until one of them changes it.
class Tab {
  public:
    Tab();
    Tab(const Tab& other);
    Tab& operator=(const Tab& other);
    ~Tab();

    QString id() const;
    QString version() const;
    QString position() const;
    QString title() const;
    QString url() const;
    bool isVisible() const;
    int index() const;
    int row() const;
    int column() const;
    QString icon() const;
    QList<QHash<QString, QString> > properties() const;
    QList<Tab> children() const;
    bool isSelected() const;

    void setTitle(const QString& title);
    void appendChild(const Tab& child);

  private:
    QSharedDataPointer<TabPrivate> d;
};

#endif  // PLINTH_TAB_H
