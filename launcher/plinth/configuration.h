#ifndef PLINTH_CONFIGURATION_H
#define PLINTH_CONFIGURATION_H

#include <QHash>
#include <QString>

// Configuration values that the reader receives from its store service.
class Configuration {
  public:
    Configuration();
    Configuration(const Configuration& other);
    Configuration& operator=(const Configuration& other);
    ~Configuration();

    QString value(const QString& key) const { return m_values.value(key); }

  private:
    QHash<QString, QString> m_values;
};

// The answer to a check for a firmware upgrade.
class UpgradeCheckResult {
  public:
    UpgradeCheckResult();
    UpgradeCheckResult(const UpgradeCheckResult& other);
    UpgradeCheckResult& operator=(const UpgradeCheckResult& other);
    ~UpgradeCheckResult();

    bool isAvailable() const { return m_available; }
    QString version() const { return m_version; }

  private:
    bool m_available;
    QString m_version;
    QString m_url;
};

// The signed-in reader.
class User {
  public:
    User();
    User(const User& other);
    User& operator=(const User& other);
    ~User();

    QString userId() const { return m_userId; }
    QString email() const { return m_email; }

  private:
    QString m_userId;
    QString m_email;
};

#endif  // PLINTH_CONFIGURATION_H
