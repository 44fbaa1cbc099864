#include "internetprovider.h"

InternetProvider::InternetProvider(QObject* parent) : QObject(parent), m_online(false) {}

InternetProvider::~InternetProvider() = default;
