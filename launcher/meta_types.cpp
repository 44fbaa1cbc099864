#include "meta_types.h"

#include <QList>
#include <QMetaType>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QSemaphore>
#include <QTouchEvent>

#include "configuration.h"
#include "content.h"
#include "device.h"
#include "internetprovider.h"
#include "qt_compat.h"
#include "scobject.h"
#include "tab.h"

void registerMetaTypes() {
    registerMetaTypeName<Activity>("Activity");
    registerMetaTypeName<Configuration>("Configuration");
    registerMetaTypeName<UpgradeCheckResult>("UpgradeCheckResult");
    registerMetaTypeName<ContentKey>("ContentKey");
    registerMetaTypeName<Device>("Device");
    registerMetaTypeName<Publication>("Publication");
    registerMetaTypeName<Shortcover>("Shortcover");
    registerMetaTypeName<Tab>("Tab");
    // A type of its own with Tab's constructor and destroyer, not an alias.
    registerMetaTypeName<Tab>("Tab&");
    registerMetaTypeName<User>("User");
    qRegisterMetaType<Volume>("Volume");
    registerMetaTypeName<VolumeShortcover>("VolumeShortcover");
    registerMetaTypeName<QNetworkProxy>("QNetworkProxy");
    registerMetaTypeName<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    registerMetaTypeName<QList<Bookmark> >("const QList<Bookmark>");
    registerMetaTypeName<QList<Volume> >("const QList<Volume>");
    registerMetaTypeName<QList<Shortcover> >("const QList<Shortcover>");
    registerMetaTypeName<QTouchEvent::TouchPoint>("QTouchEvent::TouchPoint");
    registerMetaTypeName<QList<QTouchEvent::TouchPoint> >("QList<QTouchEvent::TouchPoint>");
    registerMetaTypeName<QSemaphore*>("QSemaphore *");
    registerMetaTypeName<QList<int> >("QList<int>");
    QMetaType::registerTypedef("QString &", QMetaType::QString);
    registerMetaTypeName<QPointer<QObject> >("QPointer<QObject>");
    registerMetaTypeName<QPointer<InternetProvider> >("QPointer<InternetProvider>");
    QMetaType::registerTypedef("QImage &", QMetaType::QImage);
}
