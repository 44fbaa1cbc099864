#ifndef PLINTH_INTERNETPROVIDER_H
#define PLINTH_INTERNETPROVIDER_H

#include <QObject>

// Reports whether the device is online.
class InternetProvider : public QObject {
    Q_OBJECT

  public:
    explicit InternetProvider(QObject* parent = nullptr);
    ~InternetProvider() override;

    bool isOnline() const { return m_online; }

  signals:
    void onlineChanged(bool online);

  private:
    bool m_online;
};

#endif  // PLINTH_INTERNETPROVIDER_H
