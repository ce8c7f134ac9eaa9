#pragma once
// Upload of saved control rules to the central control service: one JSON
// object per rule, posted to "/kelvana/api/v1/control/". The post runs on a
// worker thread, so an unreachable server never holds up the window; the rule
// is saved before and stays saved whatever the upload's outcome. A failure is
// written to the program's warning log and kept in lastUploadError().
#include <QString>
#include <functional>

namespace controls {

// The fields of one uploaded rule.
struct UploadRule {
    qint64 formId = 0;
    QString table;
    QString lft, reltion, rght, cycl, commnt;
    int year = 0;
    qint64 key = 0;   // written as "id" only when not 0
};

// {"formid":..,"tble":"..","lft":"..","reltion":"..","rght":"..","cycl":"..",
//  "commnt":"..","year":..[,"id":..]} with no blanks between tokens.
QString BuildControlJson(const UploadRule &rule);

// The year the upload names: the settings file's "Конфигурация"/"Year",
// the calendar year when it is unset (-1).
int UploadYear();

void SetControlServiceUrl(const QString &url);   // tests

// The poster in use (url, body); by default HttpPostJson of the HTTP client.
// It runs on a worker thread and reports failure by throwing.
using ControlPoster = std::function<void(const QString &url, const QString &body)>;
void SetControlPoster(const ControlPoster &poster);   // empty restores the default

// Starts the upload of one rule and returns at once.
void UploadControl(const UploadRule &rule);
// Waits until every started upload has finished (tests, shutdown).
void WaitForUploads();
// The message of the last failed upload; empty after a successful one.
QString LastUploadError();

} // namespace controls
