#include "controls/ControlUpload.h"

#include "platform/Http.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

#include <QDate>
#include <QMutex>
#include <QRunnable>
#include <QThreadPool>
#include <QtDebug>

namespace controls {

namespace {

const QString kDefaultUrl = QStringLiteral("http://control.kelvana.ru/kelvana/api/v1/control/");

struct UploadState {
    QMutex mutex;
    QString url = kDefaultUrl;
    ControlPoster poster;
    QString lastError;
};

// Kept for the life of the process: an upload still running while the
// program ends must not find its state destroyed.
UploadState &state() {
    static UploadState *s = new UploadState;
    return *s;
}

QThreadPool &pool() {
    static QThreadPool *p = [] {
        auto *tp = new QThreadPool;
        tp->setMaxThreadCount(1);   // rules reach the service in the order they were saved
        return tp;
    }();
    return *p;
}

// The upload runs on a worker thread; it waits for the service's answer at
// most this long.
HttpOptions uploadOptions() {
    HttpOptions o;
    o.deadlineMs = 30000;
    o.idleMs = 15000;
    return o;
}

QString str(const QString &v) { return u'"' + JsonEscapeString(v) + u'"'; }

} // namespace

QString BuildControlJson(const UploadRule &r) {
    QString json = QStringLiteral("{\"formid\":") + QString::number(r.formId);
    json += QStringLiteral(",\"tble\":") + str(r.table);
    json += QStringLiteral(",\"lft\":") + str(r.lft);
    json += QStringLiteral(",\"reltion\":") + str(r.reltion);
    json += QStringLiteral(",\"rght\":") + str(r.rght);
    json += QStringLiteral(",\"cycl\":") + str(r.cycl);
    json += QStringLiteral(",\"commnt\":") + str(r.commnt);
    json += QStringLiteral(",\"year\":") + QString::number(r.year);
    if (r.key != 0) json += QStringLiteral(",\"id\":") + QString::number(r.key);
    json += u'}';
    return json;
}

int UploadYear() {
    int year = -1;
    try {
        year = IniFile(paths::settingsFile()).readInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"), -1);
    } catch (const std::exception &) {
        year = -1;
    }
    return year == -1 ? QDate::currentDate().year() : year;
}

void SetControlServiceUrl(const QString &url) {
    QMutexLocker lock(&state().mutex);
    state().url = url.isEmpty() ? kDefaultUrl : url;
}

void SetControlPoster(const ControlPoster &poster) {
    QMutexLocker lock(&state().mutex);
    state().poster = poster;
}

void UploadControl(const UploadRule &rule) {
    const QString body = BuildControlJson(rule);
    QString url;
    ControlPoster poster;
    {
        QMutexLocker lock(&state().mutex);
        url = state().url;
        poster = state().poster;
    }
    pool().start([url, body, poster] {
        QString error;
        try {
            if (poster)
                poster(url, body);
            else
                HttpPostJson(url, body, uploadOptions());
        } catch (const HttpError &e) {
            error = e.message();
        } catch (const std::exception &e) {
            error = winutil::errorText(e);
        } catch (...) {
            error = QStringLiteral("неизвестная ошибка");
        }
        if (!error.isEmpty()) qWarning().noquote() << QStringLiteral("Контроль не передан на сервер:") << error;
        QMutexLocker lock(&state().mutex);
        state().lastError = error;
    });
}

void WaitForUploads() { pool().waitForDone(); }

QString LastUploadError() {
    QMutexLocker lock(&state().mutex);
    return state().lastError;
}

} // namespace controls
