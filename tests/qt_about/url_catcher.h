#pragma once
// Takes the place of the browser: remembers the addresses it is asked to
// open.

#include <QObject>
#include <QStringList>
#include <QUrl>

namespace morvane::qttest {

class CUrlCatcher : public QObject {
    Q_OBJECT
public:
    QStringList opened;

public slots:
    void Open(const QUrl& url) { opened.append(url.toString()); }
};

}  // namespace morvane::qttest
