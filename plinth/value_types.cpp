// The library's plain value types. Every field starts empty, false or zero.

#include "configuration.h"
#include "content.h"
#include "device.h"
#include "scobject.h"

Device::Device() : m_generation(0) {}
Device::Device(const Device& other) = default;
Device& Device::operator=(const Device& other) = default;
Device::~Device() = default;

ScObject::ScObject() = default;
ScObject::ScObject(const ScObject& other) = default;
ScObject& ScObject::operator=(const ScObject& other) = default;
ScObject::~ScObject() = default;

ContentKey::ContentKey() = default;
ContentKey::ContentKey(const ContentKey& other) = default;
ContentKey& ContentKey::operator=(const ContentKey& other) = default;
ContentKey::~ContentKey() = default;

Publication::Publication() = default;
Publication::Publication(const Publication& other) = default;
Publication& Publication::operator=(const Publication& other) = default;
Publication::~Publication() = default;

Activity::Activity() : m_priority(0) {}
Activity::Activity(const Activity& other) = default;
Activity& Activity::operator=(const Activity& other) = default;
Activity::~Activity() = default;

Bookmark::Bookmark() = default;
Bookmark::Bookmark(const Bookmark& other) = default;
Bookmark& Bookmark::operator=(const Bookmark& other) = default;
Bookmark::~Bookmark() = default;

Content::Content() = default;
Content::Content(const Content& other) = default;
Content& Content::operator=(const Content& other) = default;
Content::~Content() = default;

Volume::Volume() : m_readPercent(0) {}
Volume::Volume(const Volume& other) = default;
Volume& Volume::operator=(const Volume& other) = default;
Volume::~Volume() = default;

Shortcover::Shortcover() = default;
Shortcover::Shortcover(const Shortcover& other) = default;
Shortcover& Shortcover::operator=(const Shortcover& other) = default;
Shortcover::~Shortcover() = default;

VolumeShortcover::VolumeShortcover() = default;
VolumeShortcover::VolumeShortcover(const VolumeShortcover& other) = default;
VolumeShortcover& VolumeShortcover::operator=(const VolumeShortcover& other) = default;
VolumeShortcover::~VolumeShortcover() = default;

Configuration::Configuration() = default;
Configuration::Configuration(const Configuration& other) = default;
Configuration& Configuration::operator=(const Configuration& other) = default;
Configuration::~Configuration() = default;

UpgradeCheckResult::UpgradeCheckResult() : m_available(false) {}
UpgradeCheckResult::UpgradeCheckResult(const UpgradeCheckResult& other) = default;
UpgradeCheckResult& UpgradeCheckResult::operator=(const UpgradeCheckResult& other) = default;
UpgradeCheckResult::~UpgradeCheckResult() = default;

User::User() = default;
User::User(const User& other) = default;
User& User::operator=(const User& other) = default;
User::~User() = default;
