#ifndef PLINTH_CONTENT_H
#define PLINTH_CONTENT_H

#include <QMetaType>
#include <QString>

// Base of the readable items in the library.
class Content {
  public:
    Content();
    Content(const Content& other);
    Content& operator=(const Content& other);
    virtual ~Content();

    QString contentId() const { return m_contentId; }
    QString title() const { return m_title; }

  private:
    QString m_contentId;
    QString m_title;
};

class Volume : public Content {
  public:
    Volume();
    Volume(const Volume& other);
    Volume& operator=(const Volume& other);
    ~Volume() override;

    QString author() const { return m_author; }
    int readPercent() const { return m_readPercent; }

  private:
    QString m_author;
    int m_readPercent;
};

Q_DECLARE_METATYPE(Volume)

class Shortcover : public Content {
  public:
    Shortcover();
    Shortcover(const Shortcover& other);
    Shortcover& operator=(const Shortcover& other);
    ~Shortcover() override;

    QString volumeId() const { return m_volumeId; }

  private:
    QString m_volumeId;
};

// A shortcover together with the volume it belongs to.
class VolumeShortcover {
  public:
    VolumeShortcover();
    VolumeShortcover(const VolumeShortcover& other);
    VolumeShortcover& operator=(const VolumeShortcover& other);
    ~VolumeShortcover();

    Volume volume() const { return m_volume; }
    Shortcover shortcover() const { return m_shortcover; }

  private:
    Volume m_volume;
    Shortcover m_shortcover;
};

#endif  // PLINTH_CONTENT_H
