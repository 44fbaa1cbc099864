#include "tab.h"

#include <QSharedData>

class TabPrivate : public QSharedData {
  public:
    QString id;
    QString version = QStringLiteral("1");
    QString position = QStringLiteral("0");
    QString title;
    QString url;
    bool visible = false;
    int index = 0;
    int row = 0;
    int column = 0;
    QString icon;
    QList<QHash<QString, QString> > properties;
    QList<Tab> children;
    bool selected = false;
};

Tab::Tab() : d(new TabPrivate) {}
Tab::Tab(const Tab& other) = default;
Tab& Tab::operator=(const Tab& other) = default;
Tab::~Tab() = default;

QString Tab::id() const {
    return d->id;
}
QString Tab::version() const {
    return d->version;
}
QString Tab::position() const {
    return d->position;
}
QString Tab::title() const {
    return d->title;
}
QString Tab::url() const {
    return d->url;
}
bool Tab::isVisible() const {
    return d->visible;
}
int Tab::index() const {
    return d->index;
}
int Tab::row() const {
    return d->row;
}
int Tab::column() const {
    return d->column;
}
QString Tab::icon() const {
    return d->icon;
}
QList<QHash<QString, QString> > Tab::properties() const {
    return d->properties;
}
QList<Tab> Tab::children() const {
    return d->children;
}
bool Tab::isSelected() const {
    return d->selected;
}

void Tab::setTitle(const QString& title) {
    d->title = title;
}
void Tab::appendChild(const Tab& child) {
    d->children.append(child);
}
