#include "meta_types.h"

#include <gtest/gtest.h>

#include <QList>
#include <QMetaType>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSemaphore>
#include <QTouchEvent>

#include "content.h"
#include "internetprovider.h"
#include "scobject.h"
#include "tab.h"

namespace {

class MetaTypesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { registerMetaTypes(); }

    // Returns a copy of the value that the constructor registered under name
    // makes without a source.
    template <typename T>
    static T defaultOf(const char* name) {
        const int id = QMetaType::type(name);
        void* value = QMetaType::create(id);
        EXPECT_NE(value, nullptr) << name;
        const T copy = *static_cast<const T*>(value);
        QMetaType::destroy(id, value);
        return copy;
    }
};

void expectDefaultTab(const Tab& tab) {
    EXPECT_EQ(tab.id(), QString());
    EXPECT_EQ(tab.version(), QStringLiteral("1"));
    EXPECT_EQ(tab.position(), QStringLiteral("0"));
    EXPECT_EQ(tab.title(), QString());
    EXPECT_EQ(tab.url(), QString());
    EXPECT_FALSE(tab.isVisible());
    EXPECT_EQ(tab.index(), 0);
    EXPECT_EQ(tab.row(), 0);
    EXPECT_EQ(tab.column(), 0);
    EXPECT_EQ(tab.icon(), QString());
    EXPECT_TRUE(tab.properties().isEmpty());
    EXPECT_TRUE(tab.children().isEmpty());
    EXPECT_FALSE(tab.isSelected());
}

TEST_F(MetaTypesTest, TabAndTabReferenceAreTwoTypesThatBothMakeTabs) {
    const int tab = QMetaType::type("Tab");
    const int tabReference = QMetaType::type("Tab&");
    ASSERT_NE(tab, QMetaType::UnknownType);
    ASSERT_NE(tabReference, QMetaType::UnknownType);
    EXPECT_NE(tab, tabReference);
    expectDefaultTab(defaultOf<Tab>("Tab"));
    expectDefaultTab(defaultOf<Tab>("Tab&"));

    Tab source;
    source.setTitle(QStringLiteral("Library"));
    source.appendChild(Tab());
    void* copy = QMetaType::create(tabReference, &source);
    EXPECT_EQ(static_cast<Tab*>(copy)->title(), QStringLiteral("Library"));
    EXPECT_EQ(static_cast<Tab*>(copy)->children().size(), 1);
    QMetaType::destroy(tabReference, copy);
}

TEST_F(MetaTypesTest, ContentKeyAndPublicationHoldThreeEmptyTexts) {
    for (const ScObject& object : {static_cast<ScObject>(defaultOf<ContentKey>("ContentKey")),
                                   static_cast<ScObject>(defaultOf<Publication>("Publication"))}) {
        EXPECT_TRUE(object.id().isEmpty());
        EXPECT_TRUE(object.type().isEmpty());
        EXPECT_TRUE(object.title().isEmpty());
    }
}

TEST_F(MetaTypesTest, ToolkitTypesHaveTheirDefaults) {
    EXPECT_EQ(defaultOf<QTouchEvent::TouchPoint>("QTouchEvent::TouchPoint").id(), -1);
    EXPECT_EQ(defaultOf<QNetworkReply::NetworkError>("QNetworkReply::NetworkError"),
              QNetworkReply::NoError);
    EXPECT_EQ(defaultOf<QNetworkProxy>("QNetworkProxy"), QNetworkProxy());
    EXPECT_EQ(defaultOf<QSemaphore*>("QSemaphore *"), nullptr);
    EXPECT_TRUE(defaultOf<QList<int> >("QList<int>").isEmpty());
    EXPECT_TRUE(
        defaultOf<QList<QTouchEvent::TouchPoint> >("QList<QTouchEvent::TouchPoint>").isEmpty());
}

TEST_F(MetaTypesTest, ConstListNamesMakePlainLists) {
    EXPECT_TRUE(defaultOf<QList<Bookmark> >("const QList<Bookmark>").isEmpty());
    EXPECT_TRUE(defaultOf<QList<Volume> >("const QList<Volume>").isEmpty());
    EXPECT_TRUE(defaultOf<QList<Shortcover> >("const QList<Shortcover>").isEmpty());
}

TEST_F(MetaTypesTest, GuardedPointersStartNullAndFollowTheirObject) {
    EXPECT_TRUE(defaultOf<QPointer<QObject> >("QPointer<QObject>").isNull());
    EXPECT_TRUE(defaultOf<QPointer<InternetProvider> >("QPointer<InternetProvider>").isNull());

    const int id = QMetaType::type("QPointer<InternetProvider>");
    InternetProvider* provider = new InternetProvider;
    const QPointer<InternetProvider> source(provider);
    void* copy = QMetaType::create(id, &source);
    EXPECT_EQ(static_cast<QPointer<InternetProvider>*>(copy)->data(), provider);
    delete provider;
    EXPECT_TRUE(static_cast<QPointer<InternetProvider>*>(copy)->isNull());
    QMetaType::destroy(id, copy);
}

TEST_F(MetaTypesTest, TypedefsAliasTheToolkitIds) {
    EXPECT_EQ(QMetaType::type("QString &"), 10);
    EXPECT_EQ(QMetaType::type("QImage &"), 70);
}

TEST_F(MetaTypesTest, VolumeIsRegisteredUnderItsDeclaredId) {
    EXPECT_EQ(QMetaType::type("Volume"), qMetaTypeId<Volume>());
}

// Regression: registering these names with a size of 0, as the Qt 4.8 form of
// the call does under Qt 5, made the toolkit abort ("Size mismatch") once it
// registered the same names through its own template.
TEST_F(MetaTypesTest, ToolkitRegistrationsOfTheSameNamesAgree) {
    EXPECT_EQ(qMetaTypeId<QNetworkProxy>(), QMetaType::type("QNetworkProxy"));
    EXPECT_EQ(qMetaTypeId<QNetworkReply::NetworkError>(),
              QMetaType::type("QNetworkReply::NetworkError"));
    EXPECT_EQ(qMetaTypeId<QList<int> >(), QMetaType::type("QList<int>"));
    EXPECT_EQ(qMetaTypeId<QPointer<QObject> >(), QMetaType::type("QPointer<QObject>"));
}

}  // namespace
