#ifndef PLINTH_SCOBJECT_H
#define PLINTH_SCOBJECT_H

#include <QString>

// Base of the objects that the reader exchanges with its store service.
// Holds three texts; copies share them.
class ScObject {
  public:
    ScObject();
    ScObject(const ScObject& other);
    ScObject& operator=(const ScObject& other);
    virtual ~ScObject();

    QString id() const { return m_id; }
    QString type() const { return m_type; }
    QString title() const { return m_title; }

  private:
    QString m_id;
    QString m_type;
    QString m_title;
};

class ContentKey : public ScObject {
  public:
    ContentKey();
    ContentKey(const ContentKey& other);
    ContentKey& operator=(const ContentKey& other);
    ~ContentKey() override;
};

class Publication : public ScObject {
  public:
    Publication();
    Publication(const Publication& other);
    Publication& operator=(const Publication& other);
    ~Publication() override;
};

class Activity : public ScObject {
  public:
    Activity();
    Activity(const Activity& other);
    Activity& operator=(const Activity& other);
    ~Activity() override;

    int priority() const { return m_priority; }

  private:
    int m_priority;
};

class Bookmark : public ScObject {
  public:
    Bookmark();
    Bookmark(const Bookmark& other);
    Bookmark& operator=(const Bookmark& other);
    ~Bookmark() override;

    QString location() const { return m_location; }

  private:
    QString m_location;
};

#endif  // PLINTH_SCOBJECT_H
